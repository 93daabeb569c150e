// Answers the modal dialogs a test provokes, in order: each dialog shown
// goes to the next answer of the script. A dialog with no answer left is
// rejected and counted, so that a test never hangs on it.
#pragma once

#include <QDialog>

#include <deque>
#include <functional>

#include "platform/modal_dialog.h"

namespace ui_test {

class DialogScript {
 public:
  using Answer = std::function<void(QDialog&)>;

  DialogScript() {
    platform::SetDialogShownHook([this](QDialog& dialog) { Respond(dialog); });
  }
  ~DialogScript() { platform::SetDialogShownHook({}); }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;

  DialogScript& Then(Answer answer) {
    answers_.push_back(std::move(answer));
    return *this;
  }
  int Shown() const { return shown_; }
  int Unexpected() const { return unexpected_; }
  bool Done() const { return answers_.empty(); }

 private:
  void Respond(QDialog& dialog) {
    ++shown_;
    if (answers_.empty()) {
      ++unexpected_;
      dialog.reject();
      return;
    }
    Answer next = std::move(answers_.front());
    answers_.pop_front();
    next(dialog);
  }

  std::deque<Answer> answers_;
  int shown_ = 0;
  int unexpected_ = 0;
};

}  // namespace ui_test
