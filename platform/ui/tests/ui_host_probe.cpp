// A program with no Qt application of its own, as any program that adds a
// certificate to the personal store may be: it sets the cursor and shows a
// dialog through the platform, and reports what happened.
//   ui_host_probe            nothing of Qt before the platform's first use
//   ui_host_probe own-app    the program makes its own application first
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/modal_dialog.h"
#include "platform/qt_application.h"
#include "platform/winuser.h"

int main(int argc, char** argv) {
  std::unique_ptr<QApplication> own;
  if (argc > 1 && std::strcmp(argv[1], "own-app") == 0) {
    static int ownArgc = 1;
    own = std::make_unique<QApplication>(ownArgc, argv);
  }
  // Before any window: the cursor is only remembered.
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  std::printf("cursor %s\n", GetCursor() == LoadCursorA(nullptr, IDC_WAIT) ? "wait" : "other");
  SetCursor(previous);

  QApplication* app = platform::EnsureQtApplication();
  if (app == nullptr) return 3;
  std::printf("application %s\n", own ? (app == own.get() ? "own" : "replaced") : "platform");
  std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));

  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("Atención"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  bool shown = false;
  platform::SetDialogShownHook([&shown](QDialog& d) {
    shown = d.isVisible();
    // A keystroke, as a person gives: Qt then makes its keyboard device, which
    // must not outlive the program's end badly.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&d, &press);
    d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  const int result = platform::RunModalDialog(dialog);
  platform::SetDialogShownHook({});
  std::printf("dialog %d shown %d\n", result, shown ? 1 : 0);
  return 0;
}
