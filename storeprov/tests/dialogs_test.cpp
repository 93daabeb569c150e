// The module's own dialogs under the offscreen platform: the notice that
// only OK closes, the PIN dialog with its default-button switch, length
// limit, colours and painted prompt, and the placement and font arithmetic.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "common/module_instance.h"
#include "platform/dialog_host.h"
#include "platform/dialog_template.h"
#include "platform/image_resources.h"
#include "platform/modal_dialog.h"
#include "platform/resources.h"
#include "scaled_font.h"
#include "storeprov/messages.h"
#include "storeprov/pin_prompt.h"
#include "storeprov_resources.h"
#include "support/key_input.h"
#include "window_placement.h"

namespace {

// The program's Qt application and module instance come from its main.
class StoreDialogs : public ::testing::Test {
 protected:
  void TearDown() override { platform::SetDialogShownHook({}); }

  // Runs `act` on every dialog shown, counting them.
  void OnDialog(std::function<void(DialogHost&)> act) {
    platform::SetDialogShownHook([this, act](QDialog& dialog) {
      ++m_shown;
      auto* host = dynamic_cast<DialogHost*>(&dialog);
      if (host == nullptr) {
        dialog.done(-99);
        return;
      }
      act(*host);
    });
  }

  static std::string Text(UINT id) {
    const char* text = platform::FindStringResource(ModuleInstance, id);
    return text != nullptr ? text : "";
  }

  int m_shown = 0;
};

QPushButton* Button(DialogHost& dialog, int id) {
  return qobject_cast<QPushButton*>(dialog.Item(id));
}

TEST_F(StoreDialogs, NoticeShowsItsTextAndOnlyOkClosesIt) {
  std::string seen;
  int escapesIgnored = 0;
  OnDialog([&](DialogHost& dialog) {
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Atención"));
    seen = dialog.ItemText(kNoticeTextId).toStdString();
    ASSERT_NE(Button(dialog, IDOK), nullptr);
    EXPECT_TRUE(Button(dialog, IDOK)->isDefault());
    bool warningShown = false;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
      if (label->text().startsWith(QStringLiteral("ATENCIÓN: Si especificó la opción"))) {
        warningShown = true;
      }
    }
    EXPECT_TRUE(warningShown);
    storeprov_test::PressKey(&dialog, Qt::Key_Escape);
    dialog.close();
    dialog.reject();
    if (dialog.isVisible()) ++escapesIgnored;
    Button(dialog, IDOK)->click();
  });
  ShowNotice(6);
  EXPECT_EQ(m_shown, 1);
  EXPECT_EQ(escapesIgnored, 1);
  EXPECT_EQ(seen,
            "El certificado no contiene claves privadas o no se han podido extraer. "
            "Asegúrese de seleccionar la opción \"Marque la clave privada como exportable\".");
}

TEST_F(StoreDialogs, NoticeEnterPressesOk) {
  OnDialog([](DialogHost& dialog) { storeprov_test::PressKey(&dialog, Qt::Key_Return); });
  ShowNotice(2);
  EXPECT_EQ(m_shown, 1);
}

TEST_F(StoreDialogs, PinDialogEnterCancelsUntilTheFirstKeystroke) {
  bool cancelWasDefault = false;
  OnDialog([&](DialogHost& dialog) {
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Verificación de PIN"));
    cancelWasDefault = Button(dialog, IDCANCEL)->isDefault() && !Button(dialog, IDOK)->isDefault();
    storeprov_test::PressKey(dialog.Item(kPinEditId), Qt::Key_Return);
  });
  PinPrompt prompt;
  EXPECT_EQ(prompt.GetPin(), nullptr);
  EXPECT_TRUE(cancelWasDefault);
}

TEST_F(StoreDialogs, PinDialogEnterConfirmsAfterTyping) {
  bool okBecameDefault = false;
  OnDialog([&](DialogHost& dialog) {
    storeprov_test::TypeText(dialog.Item(kPinEditId), QStringLiteral("1234"));
    okBecameDefault = Button(dialog, IDOK)->isDefault();
    storeprov_test::PressKey(dialog.Item(kPinEditId), Qt::Key_Return);
  });
  PinPrompt prompt;
  const char* pin = prompt.GetPin();
  ASSERT_NE(pin, nullptr);
  EXPECT_STREQ(pin, "1234");
  EXPECT_TRUE(okBecameDefault);
}

TEST_F(StoreDialogs, PinDialogTakesTwentyCharactersAtMost) {
  OnDialog([](DialogHost& dialog) {
    storeprov_test::TypeText(dialog.Item(kPinEditId), QStringLiteral("123456789012345678901"));
    Button(dialog, IDOK)->click();
  });
  PinPrompt prompt;
  const char* pin = prompt.GetPin();
  ASSERT_NE(pin, nullptr);
  EXPECT_STREQ(pin, "12345678901234567890");
}

TEST_F(StoreDialogs, PinDialogEmptyPinWithOkIsAnEmptyStringAndCancelIsNothing) {
  OnDialog([](DialogHost& dialog) { Button(dialog, IDOK)->click(); });
  PinPrompt prompt;
  const char* pin = prompt.GetPin();
  ASSERT_NE(pin, nullptr);
  EXPECT_STREQ(pin, "");

  OnDialog([](DialogHost& dialog) {
    storeprov_test::TypeText(dialog.Item(kPinEditId), QStringLiteral("99"));
    Button(dialog, IDCANCEL)->click();
  });
  EXPECT_EQ(prompt.GetPin(), nullptr);
}

TEST_F(StoreDialogs, PinWhoseBytesDoNotFitIsRefusedNotCut) {
  // Twenty characters, but more than twenty bytes in the ANSI code page.
  OnDialog([](DialogHost& dialog) {
    qobject_cast<QLineEdit*>(dialog.Item(kPinEditId))->insert(QString(20, QChar(0x00F1)));
    Button(dialog, IDOK)->click();
  });
  PinPrompt prompt;
  EXPECT_EQ(prompt.GetPin(), nullptr);
}

TEST_F(StoreDialogs, PinEditColoursAndPaintedPrompt) {
  QImage picture;
  QPalette editPalette;
  OnDialog([&](DialogHost& dialog) {
    editPalette = dialog.Item(kPinEditId)->palette();
    picture = dialog.grab().toImage();
    Button(dialog, IDCANCEL)->click();
  });
  PinPrompt prompt;
  EXPECT_EQ(prompt.GetPin(), nullptr);
  EXPECT_EQ(editPalette.color(QPalette::Text), QColor(0, 0, 128));
  EXPECT_EQ(editPalette.color(QPalette::Base), QColor(255, 242, 236));

  // The prompt is the only thing drawn in navy: its top left corner sits at
  // the layout's position.
  ASSERT_FALSE(picture.isNull());
  const PromptLayout layout = PromptLayoutFor(LargePromptLayout(SystemDialogBaseUnits()));
  int left = picture.width(), top = picture.height();
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QColor c = picture.pixelColor(x, y);
      if (c.red() < 40 && c.green() < 40 && c.blue() > 90) {
        left = std::min(left, x);
        top = std::min(top, y);
      }
    }
  }
  ASSERT_LT(left, picture.width()) << "no prompt painted";
  EXPECT_GE(left, layout.position.x());
  EXPECT_LE(left, layout.position.x() + 6);
  EXPECT_GE(top, layout.position.y());
  EXPECT_LE(top, layout.position.y() + 12);
}

TEST(PromptLayout, BaseUnitsEightBySixteenPickTheLargeLayout) {
  EXPECT_TRUE(LargePromptLayout(8 | (16 << 16)));
  EXPECT_FALSE(LargePromptLayout(8 | (15 << 16)));
  EXPECT_FALSE(LargePromptLayout(7 | (16 << 16)));
  EXPECT_FALSE(LargePromptLayout(0));
  EXPECT_EQ(PromptLayoutFor(true).position, QPoint(62, 28));
  EXPECT_EQ(PromptLayoutFor(true).tenthsOfPoint, 170);
  EXPECT_EQ(PromptLayoutFor(false).position, QPoint(80, 31));
  EXPECT_EQ(PromptLayoutFor(false).tenthsOfPoint, 140);
}

TEST(ScaledFont, HeightsAtNinetySixPixelsPerInch) {
  EXPECT_EQ(ScaledFontHeight(170, 96), -23);
  EXPECT_EQ(ScaledFontHeight(140, 96), -19);
  EXPECT_EQ(ScaledFontHeight(80, 96), -11);
  EXPECT_EQ(ScaledFontHeight(170, 120), -28);
  EXPECT_EQ(ScaledFontHeight(0, 96), 0);
}

TEST(WindowPlacement, CentringRoundsTowardZero) {
  EXPECT_EQ(CenteredPosition(QSize(1024, 768), QSize(300, 201)), QPoint(362, 283));
  EXPECT_EQ(CenteredPosition(QSize(100, 100), QSize(151, 103)), QPoint(-25, -1));
}

TEST_F(StoreDialogs, ChildIsCentredInItsParentAndPopupOnTheScreenOnTop) {
  QWidget parent;
  parent.setGeometry(40, 30, 400, 300);
  QWidget child(&parent);
  child.resize(101, 51);
  CenterWindow(&child);
  EXPECT_EQ(child.pos(), QPoint((parent.frameGeometry().width() - 101) / 2,
                                (parent.frameGeometry().height() - 51) / 2));
  EXPECT_FALSE(child.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

  QWidget popup;
  popup.resize(200, 100);
  CenterWindow(&popup);
  const QSize screen = popup.screen()->geometry().size();
  EXPECT_EQ(popup.pos(), CenteredPosition(screen, popup.frameGeometry().size()));
  EXPECT_TRUE(popup.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(StoreDialogs, TemplatesAndIconsOfTheModule) {
  const platform::DialogTemplate* pin = platform::FindDialogTemplate(ModuleInstance, 101);
  ASSERT_NE(pin, nullptr);
  EXPECT_STREQ(pin->caption, "Verificación de PIN");
  EXPECT_EQ(pin->cx, 156);
  EXPECT_EQ(pin->cy, 101);
  const platform::DialogControl& edit = pin->controls[0];
  EXPECT_EQ(edit.id, 1000);
  EXPECT_EQ((QRect{edit.x, edit.y, edit.cx, edit.cy}), QRect(17, 43, 123, 14));
  EXPECT_NE(edit.style & platform::kEditPassword, 0u);

  const platform::DialogTemplate* notice = platform::FindDialogTemplate(ModuleInstance, 108);
  ASSERT_NE(notice, nullptr);
  EXPECT_STREQ(notice->caption, "Atención");
  EXPECT_EQ(notice->cx, 207);
  EXPECT_EQ(notice->cy, 117);
  EXPECT_EQ(platform::FindDialogTemplate(ModuleInstance, 102), nullptr);

  for (int icon : {104, 105, 111}) {
    const QPixmap image =
        platform::LoadImageResource(ModuleInstance, icon, platform::ImageKind::Icon);
    ASSERT_FALSE(image.isNull()) << icon;
    EXPECT_EQ(image.width(), icon == 104 ? 64 : 32);
    EXPECT_EQ(image.height(), image.width());
    const QImage pixels = image.toImage();
    std::set<QRgb> colours;
    for (int y = 0; y < pixels.height(); ++y) {
      for (int x = 0; x < pixels.width(); ++x) colours.insert(pixels.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 2u) << icon;
    EXPECT_LE(colours.size(), icon == 105 ? 16u : 256u) << icon;
  }
}

}  // namespace
