// An autopilot for the wizard: a library preloaded into the unchanged
// program (LD_PRELOAD) that uses the wizard as a person would. It answers
// every dialog the program shows through the platform's dialog hook: on the
// sheet it presses Next on the welcome page, chooses the file with Browse,
// types the password and presses Finish; it types the PIN into the PIN
// dialog and presses OK; it reads and confirms every message box.
//
// It also answers the dialogs of other programs that load it, for instance
// the store provider's question and PIN dialog under the platform tool.
//
// Configured by the environment (nothing happens without ORVEL_AUTOPILOT_FILE
// or ORVEL_AUTOPILOT_PIN):
//   ORVEL_AUTOPILOT_FILE         the PFX file to choose
//   ORVEL_AUTOPILOT_PASSWORD     the password to type
//   ORVEL_AUTOPILOT_PIN          the PIN to type (empty: OK on an empty PIN)
//   ORVEL_AUTOPILOT_SCREENSHOTS  a directory: a PNG of every page and dialog
//   ORVEL_AUTOPILOT_LOG          a file: one line per step and message box
//   ORVEL_AUTOPILOT_CANCEL       set: cancel as soon as the first page shows
//   ORVEL_AUTOPILOT_ANSWER       "yes" or "no": the button pressed in a message
//                                box that asks (default: its first button)
//
// The first line of the log tells when the first page was on screen, in
// nanoseconds of the system's monotonic clock ("first page at N").
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWizard>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/modal_dialog.h"

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

class Autopilot {
 public:
  Autopilot()
      : m_file(Env("ORVEL_AUTOPILOT_FILE")),
        m_password(Env("ORVEL_AUTOPILOT_PASSWORD")),
        m_pin(Env("ORVEL_AUTOPILOT_PIN")),
        m_screenshots(Env("ORVEL_AUTOPILOT_SCREENSHOTS")),
        m_logPath(Env("ORVEL_AUTOPILOT_LOG")),
        m_answer(Env("ORVEL_AUTOPILOT_ANSWER")),
        m_cancel(!Env("ORVEL_AUTOPILOT_CANCEL").empty()) {}

  bool Enabled() const { return !m_file.empty() || !m_pin.empty(); }

  void Drive(QDialog& dialog) {
    if (auto* wizard = qobject_cast<QWizard*>(&dialog)) {
      DriveWizard(*wizard);
    } else if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      ConfirmMessage(*box);
    } else if (auto* files = qobject_cast<QFileDialog*>(&dialog)) {
      ChooseFile(*files);
    } else if (QLineEdit* pin = PinEdit(dialog)) {
      EnterPin(dialog, *pin);
    } else if (auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("1"))) {
      // A notice: read it and press OK, the only way it closes.
      const auto* text = dialog.findChild<QPlainTextEdit*>(QStringLiteral("1003"));
      Log("notice\t" + dialog.windowTitle().toStdString() + "\t" +
          (text != nullptr ? text->toPlainText().toStdString() : std::string()));
      Shot(dialog, "aviso");
      ok->click();
    } else {
      Log("unknown dialog \"" + dialog.windowTitle().toStdString() + "\": closed");
      dialog.reject();
    }
  }

 private:
  // Lets the window take the button states its pages post, and paint.
  static void Settle() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 60) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  void Shot(QWidget& window, const char* name) {
    if (m_screenshots.empty()) return;
    Settle();
    const QString path = QDir(QString::fromStdString(m_screenshots))
                             .filePath(QStringLiteral("%1-%2.png")
                                           .arg(++m_shots, 2, 10, QLatin1Char('0'))
                                           .arg(QLatin1String(name)));
    if (!window.grab().save(path)) Log("screenshot not saved: " + path.toStdString());
  }

  void Log(const std::string& line) {
    if (m_logPath.empty()) return;
    if (FILE* out = std::fopen(m_logPath.c_str(), "a")) {
      std::fprintf(out, "%s\n", line.c_str());
      std::fclose(out);
    }
  }

  // The PIN edit of the wizard's PIN dialog (1005) or of another program's
  // (1000, a password edit).
  static QLineEdit* PinEdit(QDialog& dialog) {
    if (auto* pin = dialog.findChild<QLineEdit*>(QStringLiteral("1005"))) return pin;
    auto* pin = dialog.findChild<QLineEdit*>(QStringLiteral("1000"));
    return pin != nullptr && pin->echoMode() == QLineEdit::Password ? pin : nullptr;
  }

  static QLineEdit* Edit(QWidget& page, int id) {
    return page.findChild<QLineEdit*>(QString::number(id));
  }

  void DriveWizard(QWizard& wizard) {
    // The sheet is on screen, its first page shown: the hook runs from its
    // event loop.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    Log("first page at " + std::to_string(now.tv_sec * 1000000000LL + now.tv_nsec));
    if (m_cancel) return GiveUp(wizard, "cancelled on the first page");
    Settle();
    Log("page " + std::to_string(wizard.currentId()) + " " +
        wizard.currentPage()->title().toStdString());
    Shot(wizard, "bienvenida");
    wizard.button(QWizard::NextButton)->click();

    Settle();
    if (wizard.currentId() != 1) return GiveUp(wizard, "not on the file page");
    Log("page 1 " + wizard.currentPage()->title().toStdString());
    auto* browse = wizard.currentPage()->findChild<QPushButton*>(QStringLiteral("1003"));
    if (browse == nullptr) return GiveUp(wizard, "no Browse button");
    browse->click();
    Shot(wizard, "fichero");
    wizard.button(QWizard::NextButton)->click();

    Settle();
    if (wizard.currentId() != 2) return GiveUp(wizard, "not on the password page");
    Log("page 2 " + wizard.currentPage()->title().toStdString());
    QLineEdit* password = Edit(*wizard.currentPage(), 1004);
    if (password == nullptr) return GiveUp(wizard, "no password field");
    password->setText(QString::fromStdString(m_password));
    Shot(wizard, "contrasena");
    wizard.button(QWizard::FinishButton)->click();

    Settle();
    if (wizard.isVisible()) return GiveUp(wizard, "Finish refused");
    Log("finished");
  }

  void GiveUp(QWizard& wizard, const std::string& why) {
    Log("stopped: " + why);
    wizard.reject();
  }

  void ChooseFile(QFileDialog& dialog) {
    Log("browse \"" + dialog.windowTitle().toStdString() + "\"");
    dialog.setDirectory(QFileInfo(QString::fromStdString(m_file)).absolutePath());
    dialog.selectFile(QString::fromStdString(m_file));
    Shot(dialog, "examinar");
    static_cast<QDialog&>(dialog).accept();
  }

  void EnterPin(QDialog& dialog, QLineEdit& pin) {
    Log("pin \"" + dialog.windowTitle().toStdString() + "\"");
    pin.setText(QString::fromStdString(m_pin));
    Shot(dialog, "pin");
    if (auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("1"))) {
      ok->click();
    } else {
      dialog.accept();
    }
  }

  void ConfirmMessage(QMessageBox& box) {
    const char* icon = box.icon() == QMessageBox::Critical      ? "hand"
                       : box.icon() == QMessageBox::Warning     ? "exclamation"
                       : box.icon() == QMessageBox::Information ? "asterisk"
                                                                : "other";
    Log("message\t" + box.windowTitle().toStdString() + "\t" + icon + "\t" +
        box.text().toStdString());
    Shot(box, "mensaje");
    const QMessageBox::StandardButton chosen = m_answer == "yes"  ? QMessageBox::Yes
                                               : m_answer == "no" ? QMessageBox::No
                                                                  : QMessageBox::NoButton;
    if (QAbstractButton* answer = box.button(chosen); answer != nullptr) {
      Log("answered " + m_answer);
      answer->click();
      return;
    }
    const QList<QAbstractButton*> buttons = box.buttons();
    if (!buttons.isEmpty()) {
      buttons.front()->click();
    } else {
      box.accept();
    }
  }

  std::string m_file, m_password, m_pin, m_screenshots, m_logPath, m_answer;
  bool m_cancel;
  int m_shots = 0;
};

// Installed when the program loads the library, before it shows anything.
const bool kInstalled = [] {
  static Autopilot pilot;
  if (!pilot.Enabled()) return false;
  platform::SetDialogShownHook([](QDialog& dialog) { pilot.Drive(dialog); });
  return true;
}();

}  // namespace
