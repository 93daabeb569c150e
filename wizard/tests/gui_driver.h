// Drives the wizard's windows under the offscreen platform as a person
// would: every modal window the program shows is answered here. Message
// boxes are recorded and confirmed; the file dialog and the PIN dialog are
// answered as the test says; the sheet runs the test's steps.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QString>
#include <QWizard>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/non_copyable.h"

namespace wizard_test {

struct BoxSeen {
  QString caption;
  QString text;
  QMessageBox::Icon icon;
  int buttons;
};

class GuiDriver : private NonCopyable {
 public:
  GuiDriver();
  ~GuiDriver();

  // What to do with the sheet once it is on screen.
  std::function<void(QWizard&)> onSheet;
  // Answers of the file dialog: a path to choose, or nothing for Cancel.
  std::deque<std::optional<std::string>> files;
  // Answers of the PIN dialog, each a function acting on the dialog.
  std::deque<std::function<void(QDialog&)>> pinAnswers;

  std::vector<BoxSeen> boxes;
  int pinDialogs = 0;
  int fileDialogs = 0;
  int unexpected = 0;

  // Lets the window take what its pages posted.
  static void Settle();
  static void Next(QWizard& wizard);
  static void Finish(QWizard& wizard);
  static void TypeInto(QWidget& page, int id, const QString& text);
  // Key presses, as a person types them: they go to the widget that has the
  // keyboard focus. The focus widget, or nullptr when there is none (and
  // nothing was typed).
  static QWidget* TypeKeys(const QString& text);
  static QWidget* PressEnter();
  static QString TextOf(QWidget& page, int id);

 private:
  void Answer(QDialog& dialog);
};

// PIN dialog answers.
std::function<void(QDialog&)> TypePinAndPressOk(const std::string& pin);
std::function<void(QDialog&)> PressCancel();

}  // namespace wizard_test
