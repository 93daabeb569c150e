// The framework's dialogs, message boxes, file dialog, files and wait
// cursor, answered through the dialog hook under the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

#include "dialog_script.h"
#include "orvel_test/temp_dir.h"
#include "platform/dialog_builder.h"
#include "platform/framework_app.h"
#include "platform/framework_file.h"
#include "platform/framework_file_dialog.h"
#include "platform/qt_application.h"

namespace {

using platform::DialogControl;
using platform::DialogControlKind;
using ui_test::DialogScript;

const DialogControl kNameControls[] = {
    {DialogControlKind::Edit, 1005, 17, 43, 123, 14, nullptr,
     platform::kBorder | platform::kTabStop, 0},
    {DialogControlKind::PushButton, IDOK, 17, 69, 57, 14, "OK", platform::kTabStop, 0},
    {DialogControlKind::PushButton, IDCANCEL, 83, 69, 57, 14, "Cancel", platform::kTabStop, 0},
    {DialogControlKind::PushButton, 1020, 83, 69, 57, 14, "Otro", platform::kTabStop, 0},
};
const platform::DialogTemplate kNameDialogTemplates[] = {
    {601, "Nombre", 157, 103, "MS Sans Serif", 8, kNameControls,
     platform::kWindowPopup | platform::kWindowCaption | platform::kWindowSysMenu},
};
const platform::DialogTemplateRegistration kNameDialogRegistration(kNameDialogTemplates);

class NameDialog : public CDialog {
 public:
  NameDialog() : CDialog(601) {}
  std::string m_name = "inicial";
  int m_otherClicks = 0;

  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (LOWORD(wParam) == 1020) {
      ++m_otherClicks;
      return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
  }

 protected:
  void DoDataExchange(CDataExchange* pDX) override { DDX_Text(pDX, 1005, m_name); }
};

QLineEdit* Edit(QDialog& dialog, int id) {
  return qobject_cast<QLineEdit*>(platform::DialogItem(dialog, id));
}
void Click(QDialog& dialog, int id) {
  auto* button = qobject_cast<QPushButton*>(platform::DialogItem(dialog, id));
  ASSERT_NE(button, nullptr);
  button->click();
}
void Key(QWidget* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}

class Framework : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_NE(platform::EnsureQtApplication(), nullptr);
  }
};

// --- CDialog and DDX_Text ----------------------------------------------------

TEST_F(Framework, DialogShowsTheDataAndOkTakesTheTypedText) {
  NameDialog dialog;
  dialog.m_name = "Año señal";
  std::string shown;
  DialogScript script;
  script.Then([&](QDialog& d) {
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Nombre"));
    shown = Edit(d, 1005)->text().toStdString();
    Edit(d, 1005)->setText(QStringLiteral("ñandú €"));
    Click(d, IDOK);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(shown, "Año señal");
  EXPECT_EQ(dialog.m_name, "ñandú €");
  EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);  // the window is gone
}

TEST_F(Framework, CancelEscapeAndTheCloseBoxLeaveTheDataAlone) {
  const std::vector<std::function<void(QDialog&)>> ways = {
      [](QDialog& d) { Click(d, IDCANCEL); },
      [](QDialog& d) { Key(Edit(d, 1005), Qt::Key_Escape); },
      [](QDialog& d) { d.close(); },
  };
  for (std::size_t i = 0; i < ways.size(); ++i) {
    SCOPED_TRACE(i);
    NameDialog dialog;
    DialogScript script;
    script.Then([&](QDialog& d) {
      Edit(d, 1005)->setText(QStringLiteral("descartado"));
      ways[i](d);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_name, "inicial");
    EXPECT_TRUE(script.Done());
  }
}

TEST_F(Framework, EnterInTheEditIsOkAndOtherButtonsAreCommands) {
  NameDialog dialog;
  DialogScript script;
  script.Then([&](QDialog& d) {
    Click(d, 1020);
    Click(d, 1020);
    EXPECT_TRUE(d.isVisible());  // a command of its own does not end the dialog
    Edit(d, 1005)->setText(QString());
    Key(Edit(d, 1005), Qt::Key_Return);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.m_otherClicks, 2);
  EXPECT_EQ(dialog.m_name, "");  // empty is a value like any other
}

TEST_F(Framework, DialogWithoutItsTemplateIsNotShown) {
  class Missing : public CDialog {
   public:
    Missing() : CDialog(699) {}
  } dialog;
  DialogScript script;
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_EQ(script.Shown(), 0);
}

// --- MessageBoxA ---------------------------------------------------------------

struct BoxSeen {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  QString okText;
};

BoxSeen Describe(QDialog& d) {
  auto& box = dynamic_cast<QMessageBox&>(d);
  BoxSeen seen{
      box.windowTitle(), box.text(), box.icon(), static_cast<int>(box.buttons().size()), {}};
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) seen.okText = ok->text();
  return seen;
}

TEST_F(Framework, MessageBoxShowsIconCaptionAndOnlyOk) {
  const std::pair<UINT, QMessageBox::Icon> icons[] = {
      {MB_ICONHAND, QMessageBox::Critical},
      {MB_ICONEXCLAMATION, QMessageBox::Warning},
      {MB_ICONASTERISK, QMessageBox::Information},
  };
  for (const auto& [style, icon] : icons) {
    BoxSeen seen;
    DialogScript script;
    script.Then([&](QDialog& d) {
      seen = Describe(d);
      dynamic_cast<QMessageBox&>(d).button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(MessageBoxA(nullptr, "El fichero no es un PFX válido", "Atención", MB_OK | style),
              IDOK);
    EXPECT_EQ(seen.icon, icon);
    EXPECT_EQ(seen.title, QStringLiteral("Atención"));
    EXPECT_EQ(seen.text, QStringLiteral("El fichero no es un PFX válido"));
    EXPECT_EQ(seen.buttons, 1);
    // Standard buttons read in Spanish.
    EXPECT_EQ(seen.okText.remove('&'), QStringLiteral("Aceptar"));
  }
}

TEST_F(Framework, MessageBoxAnswersFollowTheButtons) {
  DialogScript script;
  script.Then([](QDialog& d) { dynamic_cast<QMessageBox&>(d).button(QMessageBox::No)->click(); })
      .Then([](QDialog& d) { Key(&d, Qt::Key_Escape); })
      .Then([](QDialog& d) { Key(&d, Qt::Key_Escape); })
      .Then([](QDialog& d) { d.close(); });
  EXPECT_EQ(MessageBoxA(nullptr, "¿Seguro?", "Pregunta", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_OKCANCEL), IDCANCEL);
  // A box with only OK: Escape answers OK.
  EXPECT_EQ(MessageBoxA(nullptr, "x", nullptr, MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_OK), IDOK);
  EXPECT_TRUE(script.Done());
}

TEST_F(Framework, MessageBoxOfAWindowIsOwnedByIt) {
  NameDialog dialog;
  QWidget* dialogWindow = nullptr;
  QWidget* owner = nullptr;
  QString defaultCaption;
  DialogScript script;
  script.Then([&](QDialog& d) {
    dialogWindow = &d;
    dialog.MessageBox("Texto", nullptr, MB_ICONHAND);
    Click(d, IDCANCEL);
  });
  script.Then([&](QDialog& box) {
    owner = box.parentWidget();
    defaultCaption = box.windowTitle();
    box.accept();
  });
  dialog.DoModal();
  ASSERT_NE(dialogWindow, nullptr);
  EXPECT_EQ(owner, dialogWindow);
  EXPECT_EQ(defaultCaption, QStringLiteral("Error"));
}

// --- Files ---------------------------------------------------------------------

class Files : public Framework {
 protected:
  std::filesystem::path Write(const std::string& name, const std::string& contents) {
    const auto path = m_dir / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }
  orvel_test::TempDir m_temp{"orvel-file"};
  const std::filesystem::path& m_dir = m_temp.Path();
};

TEST_F(Files, ReadsARegularFileWhole) {
  const auto path = Write("a.pfx", std::string("\x30\x82\x00\x00"
                                               "datos",
                                               9));
  CFile file(path.c_str(), CFile::modeRead);
  ASSERT_EQ(file.GetLength(), 9u);
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 9u);
  EXPECT_EQ(std::string(buffer, 9), std::string("\x30\x82\x00\x00"
                                                "datos",
                                                9));
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
}

TEST_F(Files, EveryWayAFileCannotBeReadIsAnException) {
  auto causeOf = [](const std::string& name) {
    try {
      CFile file(name.c_str(), CFile::modeRead);
      return -1;
    } catch (const CFileException& e) {
      return e.m_cause;
    }
  };
  EXPECT_EQ(causeOf(""), CFileException::badPath);
  EXPECT_EQ(causeOf((m_dir / "missing.pfx").string()), CFileException::fileNotFound);
  EXPECT_EQ(causeOf(m_dir.string()), CFileException::invalidFile);  // a directory
  const auto fifo = m_dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(causeOf(fifo.string()), CFileException::invalidFile);  // and no hang
  if (::geteuid() != 0) {
    const auto locked = Write("locked.pfx", "x");
    ::chmod(locked.c_str(), 0);
    EXPECT_EQ(causeOf(locked.string()), CFileException::accessDenied);
  }
  CFile closed;
  EXPECT_THROW(closed.GetLength(), CFileException);
}

TEST(FileDialogFilter, PairsBecomeNameFiltersAndStarDotStarEveryFile) {
  EXPECT_EQ(
      CFileDialog::NameFiltersOf("Ficheros PFX (*.pfx)|*.pfx|Ficheros PKCS#12 (*.p12)|"
                                 "*.p12|Todos los ficheros (*.*)|*.*||"),
      (std::vector<std::string>{"Ficheros PFX (*.pfx) (*.pfx)", "Ficheros PKCS#12 (*.p12) (*.p12)",
                                "Todos los ficheros (*.*) (*)"}));
  EXPECT_EQ(CFileDialog::NameFiltersOf("Claves|*.pfx;*.p12||"),
            (std::vector<std::string>{"Claves (*.pfx *.p12)"}));
  EXPECT_TRUE(CFileDialog::NameFiltersOf(nullptr).empty());
  EXPECT_TRUE(CFileDialog::NameFiltersOf("||").empty());
}

TEST_F(Files, FileDialogGivesTheChosenPathOrNothing) {
  const auto pfx = Write("firma.pfx", "x");
  QStringList filters;
  DialogScript script;
  script.Then([&](QDialog& d) {
    auto& dialog = dynamic_cast<QFileDialog&>(d);
    filters = dialog.nameFilters();
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("pfx"));
    dialog.selectFile(QString::fromStdString(pfx.string()));
    static_cast<QDialog&>(dialog).accept();
  });
  script.Then([](QDialog& d) { d.reject(); });

  CFileDialog open(TRUE, "pfx", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                   "Ficheros PFX (*.pfx)|*.pfx|Todos los ficheros (*.*)|*.*||");
  ASSERT_EQ(open.DoModal(), IDOK);
  EXPECT_EQ(open.GetPathName(), pfx.string());
  EXPECT_EQ(filters.size(), 2);

  CFileDialog cancelled(TRUE, "pfx");
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  EXPECT_EQ(cancelled.GetPathName(), "");
}

// --- Wait cursor -----------------------------------------------------------------

TEST_F(Framework, WaitCursorShowsUntilTheOutermostEnd) {
  const HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  const HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  SetCursor(arrow);
  CCmdTarget target;
  target.BeginWaitCursor();
  EXPECT_EQ(GetCursor(), wait);
  target.BeginWaitCursor();
  target.EndWaitCursor();
  EXPECT_EQ(GetCursor(), wait);
  SetCursor(arrow);  // a dialog in between changed it
  target.RestoreWaitCursor();
  EXPECT_EQ(GetCursor(), wait);
  target.EndWaitCursor();
  EXPECT_EQ(GetCursor(), arrow);
  // One End too many changes nothing.
  target.EndWaitCursor();
  EXPECT_EQ(GetCursor(), arrow);
  target.RestoreWaitCursor();
  EXPECT_EQ(GetCursor(), arrow);
}

}  // namespace
