// The program's cursor over Qt's override cursor.
#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>

#include <QDialog>

#include <functional>
#include <thread>
#include <vector>

#include "dialog_script.h"
#include "platform/message_box.h"
#include "platform/modal_dialog.h"
#include "platform/qt_application.h"
#include "platform/winuser.h"

namespace {

Qt::CursorShape Shown() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor ? cursor->shape() : Qt::ArrowCursor;
}

bool Overridden() { return QGuiApplication::overrideCursor() != nullptr; }

class Cursors : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(platform::EnsureQtApplication(), nullptr); }
  void TearDown() override { SetCursor(LoadCursorA(nullptr, IDC_ARROW)); }
};

TEST_F(Cursors, SystemCursorsAreLoadedByNumberOnly) {
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  ASSERT_NE(arrow, nullptr);
  ASSERT_NE(wait, nullptr);
  EXPECT_NE(arrow, wait);
  EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)), wait);
  EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(LoadCursorA(nullptr, "IDC_WAIT"), nullptr);
  EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(0x400000), IDC_WAIT), nullptr);
}

TEST_F(Cursors, TheWaitCursorIsShownAndThePreviousOneComesBack) {
  HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  EXPECT_EQ(GetCursor(), arrow);
  EXPECT_FALSE(Overridden());

  HCURSOR previous = SetCursor(wait);
  EXPECT_EQ(previous, arrow);
  EXPECT_EQ(GetCursor(), wait);
  EXPECT_EQ(Shown(), Qt::WaitCursor);

  // A change while one is shown replaces it: one restore takes it all away.
  EXPECT_EQ(SetCursor(LoadCursorA(nullptr, IDC_HAND)), wait);
  EXPECT_EQ(Shown(), Qt::PointingHandCursor);
  EXPECT_EQ(SetCursor(nullptr), LoadCursorA(nullptr, IDC_HAND));
  EXPECT_EQ(Shown(), Qt::BlankCursor);

  SetCursor(previous);
  EXPECT_EQ(GetCursor(), arrow);
  EXPECT_FALSE(Overridden());
}

TEST_F(Cursors, TheProgramsOwnOverrideCursorIsLeftInPlace) {
  QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  EXPECT_EQ(Shown(), Qt::WaitCursor);
  SetCursor(previous);
  EXPECT_EQ(Shown(), Qt::BusyCursor);
  QGuiApplication::restoreOverrideCursor();
  EXPECT_FALSE(Overridden());
}

TEST_F(Cursors, ChangesFromOtherThreadsReachTheWindowsThroughTheEventLoop) {
  HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
  HCURSOR previous = nullptr;
  std::thread([&] { previous = SetCursor(wait); }).join();
  EXPECT_EQ(GetCursor(), wait);
  EXPECT_EQ(previous, LoadCursorA(nullptr, IDC_ARROW));
  QCoreApplication::processEvents();
  EXPECT_EQ(Shown(), Qt::WaitCursor);
  std::thread([&] { SetCursor(previous); }).join();
  QCoreApplication::processEvents();
  EXPECT_FALSE(Overridden());
}

TEST_F(Cursors, ModalWindowsShowTheArrowAndTheWaitCursorComesBackAfterThem) {
  const std::function<void()> shows[] = {
      [] { MessageBoxA(nullptr, "Error de comunicación", "Error", MB_OK | MB_ICONHAND); },
      [] {
        QDialog dialog;
        platform::RunModalDialog(dialog);
      },
  };
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  for (const auto& show : shows) {
    std::vector<Qt::CursorShape> whileUp;
    ui_test::DialogScript script;
    script.Then([&](QDialog& dialog) {
      whileUp.push_back(Shown());
      dialog.reject();
    });
    show();
    EXPECT_EQ(whileUp, (std::vector<Qt::CursorShape>{Qt::ArrowCursor}));
    EXPECT_EQ(script.Unexpected(), 0);
    EXPECT_EQ(Shown(), Qt::WaitCursor);  // the work goes on
  }

  // A message over a dialog: the arrow stays until the dialog closes too.
  std::vector<Qt::CursorShape> seen;
  ui_test::DialogScript script;
  script
      .Then([&](QDialog& dialog) {
        MessageBoxA(nullptr, "Pin no válido", "Error", MB_OK | MB_ICONHAND);
        seen.push_back(Shown());
        dialog.reject();
      })
      .Then([&](QDialog& box) {
        seen.push_back(Shown());
        box.reject();
      });
  QDialog dialog;
  platform::RunModalDialog(dialog);
  EXPECT_EQ(seen, (std::vector<Qt::CursorShape>{Qt::ArrowCursor, Qt::ArrowCursor}));
  EXPECT_EQ(Shown(), Qt::WaitCursor);
  SetCursor(previous);
  EXPECT_FALSE(Overridden());
}

}  // namespace
