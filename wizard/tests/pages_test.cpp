// The wizard sheet and its pages under the offscreen platform, driven as a
// person would drive them, with the fake resource manager behind them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>

#include <openssl/evp.h>

#include "cardsim/fake_pcsc.h"
#include "gui_driver.h"
#include "pin_dialog.h"
#include "platform/framework_sheet.h"
#include "platform/qt_application.h"
#include "property_sheet.h"
#include "wizard_test_support.h"

namespace wizard_test {
namespace {

constexpr char kSheetCaption[] =
    "Asistente para la importación de Certificados X509 a la tarjeta Orvel";
constexpr char kNoFile[] = "El fichero no existe o no pudo ser abierto.";
constexpr char kNotPfx[] = "El fichero no es un PFX válido";

struct ButtonState {
  bool back, next, finish;  // enabled and visible
  bool operator==(const ButtonState&) const = default;
};

ButtonState ButtonsOf(QWizard& wizard) {
  GuiDriver::Settle();
  auto shown = [&](QWizard::WizardButton which) {
    QAbstractButton* button = wizard.button(which);
    return button->isVisible() && button->isEnabled();
  };
  return {shown(QWizard::BackButton), shown(QWizard::NextButton), shown(QWizard::FinishButton)};
}

class WizardPages : public WizardTest {
 protected:
  void SetUp() override {
    WizardTest::SetUp();
    ASSERT_NE(platform::EnsureQtApplication(), nullptr);
  }

  std::string WriteFile(const std::string& name, const Bytes& contents) {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(contents.data()),
               static_cast<std::streamsize>(contents.size()));
    return path.string();
  }
  std::string GoodPfxFile(const char* password = kPassword) {
    auto certificate = Certificate(testpki::Key(1024, 0), 0xA0, nullptr, 60);
    return WriteFile("certificado.pfx",
                     Pfx(testpki::Key(1024, 0), certificate.get(), {}, password));
  }

  // Runs the sheet as the program does; what the steps do is the test's.
  INT_PTR RunSheet(std::function<void(QWizard&)> steps) {
    m_driver.onSheet = std::move(steps);
    CPagPropiedades sheet(1, nullptr, 0);
    return sheet.DoModal();
  }

  static QWidget& Page(QWizard& wizard) { return *wizard.currentPage(); }
  // A person's way through the pages: the file, the password, Finish.
  static void ImportFile(QWizard& wizard, const std::string& file, const char* password) {
    GuiDriver::Next(wizard);
    GuiDriver::TypeInto(Page(wizard), 1002, QString::fromStdString(file));
    GuiDriver::Next(wizard);
    GuiDriver::TypeInto(Page(wizard), 1004, QString::fromUtf8(password));
    GuiDriver::Finish(wizard);
  }

  GuiDriver m_driver;
};

TEST_F(WizardPages, SheetOpensOnTheWelcomePageWithItsCaptionAndHeaders) {
  QString caption, titles[3], subtitles[3];
  bool picture = false;
  int start = -1;
  RunSheet([&](QWizard& wizard) {
    caption = wizard.windowTitle();
    start = wizard.currentId();
    for (int i = 0; i < 3; ++i) {
      titles[i] = wizard.page(i)->title();
      subtitles[i] = wizard.page(i)->subTitle();
    }
    for (QLabel* label : wizard.page(0)->findChildren<QLabel*>()) {
      picture = picture || !label->pixmap().isNull();
    }
  });
  EXPECT_EQ(caption.toStdString(), kSheetCaption);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(titles[0].toStdString(), "Bienvenido al asistente para la importación de certificados");
  EXPECT_TRUE(subtitles[0].trimmed().isEmpty());  // a header with the title alone
  EXPECT_EQ(titles[1].toStdString(), "Seleccione el fichero que desea importar");
  EXPECT_EQ(subtitles[1].toStdString(),
            "Debe especificar el archivo PFX o PKCS#12 que contiene el certificado a importar.");
  EXPECT_EQ(titles[2].toStdString(), "Protección por contraseña para claves privadas");
  EXPECT_EQ(subtitles[2].toStdString(),
            "Para mantener la seguridad, la clave privada es secreta y debe protegerse con una "
            "contraseña.");
  EXPECT_TRUE(picture);  // bitmap 135 on the welcome page
}

TEST_F(WizardPages, EachPageShowsItsButtons) {
  const std::string file = GoodPfxFile();
  std::vector<ButtonState> seen;
  const INT_PTR result = RunSheet([&](QWizard& wizard) {
    seen.push_back(ButtonsOf(wizard));
    GuiDriver::Next(wizard);
    seen.push_back(ButtonsOf(wizard));
    GuiDriver::TypeInto(Page(wizard), 1002, QString::fromStdString(file));
    GuiDriver::Next(wizard);
    seen.push_back(ButtonsOf(wizard));
    // Back from the password page: the file page shows its buttons again.
    wizard.back();
    seen.push_back(ButtonsOf(wizard));
    wizard.button(QWizard::CancelButton)->click();
  });
  EXPECT_EQ(result, IDCANCEL);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], (ButtonState{false, true, false}));  // only Next
  EXPECT_EQ(seen[1], (ButtonState{true, true, false}));   // Back and Next
  EXPECT_EQ(seen[2], (ButtonState{true, false, true}));   // Back and Finish
  EXPECT_EQ(seen[3], (ButtonState{true, true, false}));
  EXPECT_TRUE(m_driver.boxes.empty());
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);  // cancelled: nothing reached the card
}

TEST_F(WizardPages, NextChecksTheFileAndStaysAfterAMessage) {
  auto der = Certificate(testpki::Key(1024, 0));
  // A PFX whose password check would take too long.
  testpki::PfxSpec costly(testpki::Key(1024, 0), der.get());
  costly.macIterations = 300001;
  const std::string cases[] = {
      "",                                                     // no name
      (m_dir / "no-existe.pfx").string(),                     // missing
      WriteFile("certificado.cer", testpki::Der(der.get())),  // a DER certificate
      WriteFile("vacio.pfx", {}),                             // zero length
      WriteFile("costoso.pfx", testpki::MakePfx(costly)),
  };
  std::vector<int> pages;
  RunSheet([&](QWizard& wizard) {
    GuiDriver::Next(wizard);
    for (const std::string& name : cases) {
      GuiDriver::TypeInto(Page(wizard), 1002, QString::fromStdString(name));
      GuiDriver::Next(wizard);
      pages.push_back(wizard.currentId());
    }
    GuiDriver::TypeInto(Page(wizard), 1002, QString::fromStdString(GoodPfxFile()));
    GuiDriver::Next(wizard);
    pages.push_back(wizard.currentId());
  });
  EXPECT_EQ(pages, (std::vector<int>{1, 1, 1, 1, 1, 2}));
  ASSERT_EQ(m_driver.boxes.size(), 5u);
  const char* texts[] = {kNoFile, kNoFile, kNotPfx, kNotPfx, kNotPfx};
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(m_driver.boxes[i].text.toStdString(), texts[i]);
    EXPECT_EQ(m_driver.boxes[i].caption, QStringLiteral("Error"));
    EXPECT_EQ(m_driver.boxes[i].icon, QMessageBox::Critical);
    EXPECT_EQ(m_driver.boxes[i].buttons, 1);
  }
}

TEST_F(WizardPages, FinishChecksPasswordAndFileAgain) {
  const std::string file = GoodPfxFile();
  QString keptPassword;
  std::vector<int> pages;
  RunSheet([&](QWizard& wizard) {
    GuiDriver::Next(wizard);
    GuiDriver::TypeInto(Page(wizard), 1002, QString::fromStdString(file));
    GuiDriver::Next(wizard);
    GuiDriver::Finish(wizard);  // empty password
    pages.push_back(wizard.currentId());
    GuiDriver::TypeInto(Page(wizard), 1004, QStringLiteral("equivocada"));
    GuiDriver::Finish(wizard);
    pages.push_back(wizard.currentId());
    keptPassword = GuiDriver::TextOf(Page(wizard), 1004);
    std::filesystem::remove(file);
    GuiDriver::TypeInto(Page(wizard), 1004, QString::fromUtf8(kPassword));
    GuiDriver::Finish(wizard);
    pages.push_back(wizard.currentId());
  });
  EXPECT_EQ(pages, (std::vector<int>{2, 2, 2}));
  ASSERT_EQ(m_driver.boxes.size(), 3u);
  EXPECT_EQ(m_driver.boxes[0].text.toStdString(), "Por favor, especifique un password válido.");
  EXPECT_EQ(m_driver.boxes[0].caption, QStringLiteral("Error"));
  EXPECT_EQ(m_driver.boxes[0].icon, QMessageBox::Critical);
  EXPECT_EQ(m_driver.boxes[1].text.toStdString(), "La password es incorrecta");
  EXPECT_EQ(m_driver.boxes[1].caption.toStdString(), "Atención");
  EXPECT_EQ(m_driver.boxes[1].icon, QMessageBox::Warning);
  EXPECT_EQ(keptPassword, QStringLiteral("equivocada"));
  EXPECT_EQ(m_driver.boxes[2].text.toStdString(), kNoFile);
  EXPECT_EQ(m_driver.pinDialogs, 0);
  EXPECT_EQ(SoftwareContainers(), 0u);  // nothing was imported from the file
}

TEST_F(WizardPages, FileThePlatformCannotOpenKeepsThePasswordPage) {
  // The password is right, but the platform takes RSA keys only.
  EVP_PKEY* ecKey = EVP_EC_gen("P-256");
  ASSERT_NE(ecKey, nullptr);
  auto certificate = Certificate(ecKey);
  const std::string file = WriteFile("curva.pfx", Pfx(ecKey, certificate.get()));
  EVP_PKEY_free(ecKey);
  int page = -1;
  RunSheet([&](QWizard& wizard) {
    ImportFile(wizard, file, kPassword);
    page = wizard.isVisible() ? wizard.currentId() : -1;
  });
  EXPECT_EQ(page, 2);
  ASSERT_EQ(m_driver.boxes.size(), 1u);
  EXPECT_EQ(m_driver.boxes[0].text.toStdString(),
            "No se ha podido importar correctamente el certificado");
}

TEST_F(WizardPages, BrowseSetsTheChosenFileAndCancelKeepsTheName) {
  const std::string chosen = GoodPfxFile();
  m_driver.files = {std::nullopt, chosen};
  QString afterCancel, afterChoice;
  RunSheet([&](QWizard& wizard) {
    GuiDriver::Next(wizard);
    GuiDriver::TypeInto(Page(wizard), 1002, QStringLiteral("escrito a mano.pfx"));
    auto* browse = Page(wizard).findChild<QPushButton*>(QStringLiteral("1003"));
    ASSERT_NE(browse, nullptr);
    EXPECT_EQ(browse->text(), QStringLiteral("Examinar..."));
    browse->click();
    afterCancel = GuiDriver::TextOf(Page(wizard), 1002);
    browse->click();
    afterChoice = GuiDriver::TextOf(Page(wizard), 1002);
  });
  EXPECT_EQ(m_driver.fileDialogs, 2);
  EXPECT_EQ(afterCancel, QStringLiteral("escrito a mano.pfx"));
  EXPECT_EQ(afterChoice.toStdString(), chosen);
}

TEST_F(WizardPages, KeysAloneReachTheFileAndPasswordEditsAndEnterGoesOn) {
  const std::string file = GoodPfxFile();
  m_driver.pinAnswers = {TypePinAndPressOk(kCardPin)};
  std::vector<std::string> typedInto;
  std::vector<int> pages;
  const INT_PTR result = RunSheet([&](QWizard& wizard) {
    GuiDriver::PressEnter();  // the welcome page: Next
    pages.push_back(wizard.currentId());
    for (const QString& text : {QString::fromStdString(file), QString::fromUtf8(kPassword)}) {
      QWidget* target = GuiDriver::TypeKeys(text);
      typedInto.push_back(target != nullptr ? target->objectName().toStdString() : "");
      GuiDriver::PressEnter();
      pages.push_back(wizard.isVisible() ? wizard.currentId() : -1);
    }
  });
  EXPECT_EQ(typedInto, (std::vector<std::string>{"1002", "1004"}));
  EXPECT_EQ(pages, (std::vector<int>{1, 2, -1}));
  EXPECT_EQ(result, ID_WIZFINISH);
  // No message 9 or 36: the summary alone.
  ASSERT_EQ(m_driver.boxes.size(), 1u);
  EXPECT_EQ(m_driver.boxes[0].text.toStdString(),
            "La importación del certificado a la tarjeta Orvel se ha realizado correctamente.");
  EXPECT_EQ(m_driver.pinDialogs, 1);
}

TEST_F(WizardPages, AccentedPasswordReachesTheImportExactlyAsTyped) {
  const char* password = "Contraseña_ÁÉÍ€ü";
  const std::string file = GoodPfxFile(password);
  m_driver.pinAnswers = {TypePinAndPressOk(kCardPin)};
  const INT_PTR result = RunSheet([&](QWizard& wizard) { ImportFile(wizard, file, password); });
  EXPECT_EQ(result, ID_WIZFINISH);  // completed: Finish accepted
  EXPECT_EQ(m_driver.pinDialogs, 1);
  ASSERT_EQ(m_driver.boxes.size(), 1u);
  EXPECT_EQ(m_driver.boxes[0].text.toStdString(),
            "La importación del certificado a la tarjeta Orvel se ha realizado correctamente.");
  EXPECT_EQ(m_driver.boxes[0].caption.toStdString(), "Información");
  EXPECT_EQ(m_driver.boxes[0].icon, QMessageBox::Information);
  EXPECT_TRUE(m_card->Key(0x20, cardsim::KeyRole::Exchange));
}

TEST_F(WizardPages, FailedImportClosesTheWizardWithoutSummary) {
  const std::string file = GoodPfxFile();
  m_driver.pinAnswers = {PressCancel()};
  const INT_PTR result = RunSheet([&](QWizard& wizard) { ImportFile(wizard, file, kPassword); });
  EXPECT_EQ(result, ID_WIZFINISH);  // stopped: Finish accepted all the same
  ASSERT_EQ(m_driver.boxes.size(), 1u);
  EXPECT_EQ(m_driver.boxes[0].text.toStdString(),
            "Pin no válido.... no se introducirá el certificado en la tarjeta.");
  EXPECT_TRUE(m_card->Keys().empty());
}

// --- The PIN dialog ------------------------------------------------------------------

class PinDialog : public WizardPages {
 protected:
  // Runs the dialog with the answer; its result and PIN.
  std::pair<INT_PTR, std::string> Run(std::function<void(QDialog&)> answer) {
    m_driver.pinAnswers = {std::move(answer)};
    CPinDialog dialog;
    const INT_PTR result = dialog.DoModal();
    return {result, dialog.m_pin};
  }
  static void Key(QWidget* target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }
};

TEST_F(PinDialog, TemplateShowsTheMaskedEditAndBothButtons) {
  QString caption, ok, cancel;
  QLineEdit::EchoMode echo = QLineEdit::Normal;
  int maxLength = 0;
  const auto [result, pin] = Run([&](QDialog& dialog) {
    caption = dialog.windowTitle();
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("1005"));
    echo = edit->echoMode();
    maxLength = edit->maxLength();
    ok = dialog.findChild<QPushButton*>(QStringLiteral("1"))->text();
    cancel = dialog.findChild<QPushButton*>(QStringLiteral("2"))->text();
    TypePinAndPressOk("12 34 ñ")(dialog);
  });
  EXPECT_EQ(caption.toStdString(), "Verificación de PIN de la tarjeta");
  EXPECT_EQ(echo, QLineEdit::Password);
  EXPECT_GE(maxLength, 32767);  // no limit of its own
  EXPECT_EQ(ok, QStringLiteral("OK"));
  EXPECT_EQ(cancel, QStringLiteral("Cancel"));
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(pin, "12 34 ñ");  // passed on unchanged
}

TEST_F(PinDialog, CancelEscapeAndCloseBoxAreNotOk) {
  const std::function<void(QDialog&)> ways[] = {
      PressCancel(),
      [](QDialog& d) { Key(d.findChild<QLineEdit*>(QStringLiteral("1005")), Qt::Key_Escape); },
      [](QDialog& d) { d.close(); },
  };
  for (const auto& way : ways) {
    const auto [result, pin] = Run([&](QDialog& d) {
      d.findChild<QLineEdit*>(QStringLiteral("1005"))->setText(QStringLiteral("1234"));
      way(d);
    });
    EXPECT_NE(result, IDOK);
    EXPECT_EQ(pin, "");
  }
}

TEST_F(PinDialog, EmptyOkIsOkWithAnEmptyPinAndEnterIsOk) {
  auto [emptyResult, emptyPin] = Run(TypePinAndPressOk(""));
  EXPECT_EQ(emptyResult, IDOK);
  EXPECT_EQ(emptyPin, "");
  auto [enterResult, enterPin] = Run([](QDialog& d) {
    auto* edit = d.findChild<QLineEdit*>(QStringLiteral("1005"));
    edit->setText(QStringLiteral("4321"));
    Key(edit, Qt::Key_Return);
  });
  EXPECT_EQ(enterResult, IDOK);
  EXPECT_EQ(enterPin, "4321");
}

}  // namespace
}  // namespace wizard_test
