// Answers the modal dialogs a test provokes, in order: each dialog shown
// goes to the next answer of the script. A dialog with no answer left is
// rejected and counted, so that a test never hangs on it.
#pragma once

#include <QDialog>

#include <deque>
#include <functional>

#include "common/non_copyable.h"
#include "platform/modal_dialog.h"

namespace ui_test {

class DialogScript : private NonCopyable {
 public:
  using Answer = std::function<void(QDialog&)>;

  DialogScript() {
    platform::SetDialogShownHook([this](QDialog& dialog) { Respond(dialog); });
  }
  ~DialogScript() { platform::SetDialogShownHook({}); }

  DialogScript& Then(Answer answer) {
    m_answers.push_back(std::move(answer));
    return *this;
  }
  int Shown() const { return m_shown; }
  int Unexpected() const { return m_unexpected; }
  bool Done() const { return m_answers.empty(); }

 private:
  void Respond(QDialog& dialog) {
    ++m_shown;
    if (m_answers.empty()) {
      ++m_unexpected;
      dialog.reject();
      return;
    }
    Answer next = std::move(m_answers.front());
    m_answers.pop_front();
    next(dialog);
  }

  std::deque<Answer> m_answers;
  int m_shown = 0;
  int m_unexpected = 0;
};

}  // namespace ui_test
