// Dialog templates and images registered by a module, and the widgets the
// builder makes of them.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include "platform/dialog_builder.h"
#include "platform/image_resources.h"
#include "platform/module_handle.h"
#include "platform/qt_application.h"

namespace {

using platform::DialogControl;
using platform::DialogControlKind;
using platform::DialogTemplate;

// A 4 x 4 icon in two colours.
const char* const kSquareIcon[] = {"4 4 2 1", "a c #FF0000", "b c #0000FF", "aabb",
                                   "aabb",    "bbaa",        "bbaa"};

const platform::ImageResource kImages[] = {
    {7, platform::ImageKind::Icon, kSquareIcon, nullptr},
    {7, platform::ImageKind::Bitmap, kSquareIcon, nullptr},
    {8, platform::ImageKind::Bitmap, nullptr, ":/no/such/file.png"},
};
const platform::ImageResourceRegistration kImageRegistration(kImages);

const DialogControl kControls[] = {
    {DialogControlKind::Edit, 1005, 17, 43, 123, 14, nullptr,
     platform::kBorder | platform::kTabStop | platform::kEditPassword, 0},
    {DialogControlKind::PushButton, 1, 17, 69, 57, 14, "OK", platform::kTabStop, 0},
    {DialogControlKind::DefPushButton, 2, 83, 69, 57, 14, "Cancel", platform::kTabStop, 0},
    {DialogControlKind::GroupBox, platform::kNoControlId, 7, 7, 143, 90, nullptr, 0, 0},
    {DialogControlKind::Icon, platform::kNoControlId, 15, 17, 0, 0, nullptr, 0, 7},
    {DialogControlKind::Static, platform::kNoControlId, 43, 22, 100, 8, "Texto:", 0, 0},
    {DialogControlKind::Edit, 1003, 40, 8, 155, 32, nullptr,
     platform::kEditMultiLine | platform::kEditReadOnly, 0},
    {DialogControlKind::Bitmap, 1010, 10, 10, 40, 40, nullptr, 0, 7},
};
const DialogTemplate kTemplates[] = {
    {501, "Prueba", 157, 103, "MS Sans Serif", 8, kControls},
    {502, "Vacía", 100, 50, "MS Sans Serif", 8, {}},
};
const platform::DialogTemplateRegistration kTemplateRegistration(kTemplates);

class DialogBuilder : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_NE(platform::EnsureQtApplication(), nullptr);
  }
  HINSTANCE Module() const { return platform::ProgramModule(); }
};

TEST_F(DialogBuilder, TemplatesAndImagesAreFoundByModuleAndNumberOnly) {
  const DialogTemplate* found = platform::FindDialogTemplate(Module(), 501);
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found->caption, "Prueba");
  EXPECT_EQ(platform::FindDialogTemplate(Module(), 503), nullptr);
  // Another module's numbers are its own.
  EXPECT_EQ(platform::FindDialogTemplate(reinterpret_cast<HINSTANCE>(0x1000), 501), nullptr);

  EXPECT_EQ(platform::LoadImageResource(Module(), 7, platform::ImageKind::Icon).size(),
            QSize(4, 4));
  EXPECT_TRUE(platform::LoadImageResource(Module(), 9, platform::ImageKind::Icon).isNull());
  // A number of one kind does not reach the other.
  EXPECT_TRUE(platform::LoadImageResource(Module(), 8, platform::ImageKind::Icon).isNull());
  // An image that cannot be decoded is a null pixmap, not a failure.
  EXPECT_TRUE(platform::LoadImageResource(Module(), 8, platform::ImageKind::Bitmap).isNull());
}

TEST_F(DialogBuilder, PlacesControlsInDialogUnitsOfTheTemplateFont) {
  QWidget window;
  const DialogTemplate& pin = kTemplates[0];
  const QSize size = platform::BuildDialogControls(window, pin, Module());
  const QSize base = platform::DialogBaseUnits(platform::DialogFontOf(pin));
  ASSERT_GT(base.width(), 0);
  ASSERT_GT(base.height(), 0);
  EXPECT_EQ(size, QSize(157 * base.width() / 4, 103 * base.height() / 8));
  EXPECT_EQ(window.font().family(), platform::DialogFontOf(pin).family());

  QWidget* edit = platform::DialogItem(window, 1005);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->geometry(), QRect(17 * base.width() / 4, 43 * base.height() / 8,
                                    123 * base.width() / 4, 14 * base.height() / 8));
  EXPECT_EQ(edit->objectName(), QStringLiteral("1005"));
  EXPECT_EQ(platform::DialogItemId(*edit), 1005);
  EXPECT_EQ(platform::DialogItem(window, 4711), nullptr);
  EXPECT_EQ(platform::DialogItem(window, platform::kNoControlId), nullptr);
}

TEST_F(DialogBuilder, MakesEachKindOfControlWithItsStyle) {
  QWidget window;
  platform::BuildDialogControls(window, kTemplates[0], Module());

  auto* pin = qobject_cast<QLineEdit*>(platform::DialogItem(window, 1005));
  ASSERT_NE(pin, nullptr);
  EXPECT_EQ(pin->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(pin->hasFrame());
  EXPECT_FALSE(pin->isReadOnly());

  auto* ok = qobject_cast<QPushButton*>(platform::DialogItem(window, 1));
  auto* cancel = qobject_cast<QPushButton*>(platform::DialogItem(window, 2));
  ASSERT_NE(ok, nullptr);
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("OK"));
  EXPECT_FALSE(ok->isDefault());
  EXPECT_TRUE(cancel->isDefault());
  EXPECT_FALSE(ok->autoDefault());

  auto* notice = qobject_cast<QPlainTextEdit*>(platform::DialogItem(window, 1003));
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isReadOnly());
  EXPECT_EQ(notice->frameShape(), QFrame::NoFrame);

  auto* picture = qobject_cast<QLabel*>(platform::DialogItem(window, 1010));
  ASSERT_NE(picture, nullptr);
  // A bitmap is scaled into its control, keeping its proportions.
  const int side = std::min(picture->width(), picture->height());
  EXPECT_EQ(picture->pixmap().size(), QSize(side, side));

  bool sawLabel = false;
  bool sawIcon = false;
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text() == QStringLiteral("Texto:")) sawLabel = label->wordWrap();
    if (label != picture && !label->pixmap().isNull()) {
      // An icon without a size takes its image's size.
      sawIcon = label->pixmap().size() == QSize(4, 4) && label->size() == QSize(4, 4);
    }
  }
  EXPECT_TRUE(sawLabel);
  EXPECT_TRUE(sawIcon);
}

TEST_F(DialogBuilder, GroupBoxStaysBehindTheControlsItFrames) {
  QWidget window;
  platform::BuildDialogControls(window, kTemplates[0], Module());
  auto* box = window.findChild<QGroupBox*>();
  ASSERT_NE(box, nullptr);
  // The group box comes after the buttons in the template, yet a click on a
  // button inside it must reach the button.
  QWidget* ok = platform::DialogItem(window, 1);
  EXPECT_EQ(window.childAt(ok->geometry().center()), ok);
  EXPECT_EQ(window.children().indexOf(box), 0);
}

TEST_F(DialogBuilder, TabOrderFollowsTheTemplate) {
  QWidget window;
  platform::BuildDialogControls(window, kTemplates[0], Module());
  window.show();
  QWidget* edit = platform::DialogItem(window, 1005);
  EXPECT_EQ(edit->nextInFocusChain(), platform::DialogItem(window, 1));
  EXPECT_EQ(platform::DialogItem(window, 1)->nextInFocusChain(), platform::DialogItem(window, 2));
}

}  // namespace
