// MessageBoxA on QMessageBox.
#include "platform/message_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <utility>
#include <vector>

#include "platform/modal_dialog.h"
#include "platform/qt_application.h"
#include "platform/window_handle.h"

namespace {

using Answer = std::pair<QMessageBox::StandardButton, int>;

std::vector<Answer> ButtonsOf(UINT style) {
  switch (style & 0x0F) {
    case MB_OKCANCEL:
      return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
      return {{QMessageBox::Abort, IDABORT},
              {QMessageBox::Retry, IDRETRY},
              {QMessageBox::Ignore, IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    case MB_YESNO:
      return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case MB_RETRYCANCEL:
      return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
    default:
      return {{QMessageBox::Ok, IDOK}};
  }
}

QMessageBox::Icon IconOf(UINT style) {
  switch (style & 0xF0) {
    case MB_ICONHAND:
      return QMessageBox::Critical;
    case MB_ICONQUESTION:
      return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
      return QMessageBox::Warning;
    case MB_ICONASTERISK:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

extern "C" int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  int answer = 0;
  const bool ran = platform::RunOnGuiThread([&] {
    QMessageBox box(platform::WidgetOfWindowHandle(hWnd));
    box.setWindowTitle(QString::fromUtf8(lpCaption != nullptr ? lpCaption : "Error"));
    box.setText(QString::fromUtf8(lpText != nullptr ? lpText : ""));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(IconOf(uType));
    if ((uType & (MB_TOPMOST | MB_SYSTEMMODAL)) != 0) {
      box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    }

    const std::vector<Answer> buttons = ButtonsOf(uType);
    std::vector<std::pair<QAbstractButton*, int>> answers;
    for (const auto& [standard, id] : buttons) answers.emplace_back(box.addButton(standard), id);
    const std::size_t defaultIndex = (uType & 0x0F00) >> 8;
    if (defaultIndex < answers.size()) {
      box.setDefaultButton(qobject_cast<QPushButton*>(answers[defaultIndex].first));
    }
    // Escape: Cancel when there is one, the only button otherwise.
    QAbstractButton* escape = answers.size() == 1 ? answers.front().first : nullptr;
    for (const auto& [button, id] : answers) {
      if (id == IDCANCEL) escape = button;
    }
    box.setEscapeButton(escape);

    platform::RunModalDialog(box);
    QAbstractButton* clicked = box.clickedButton();
    for (const auto& [button, id] : answers) {
      if (button == clicked) answer = id;
    }
    // Closed without a button (only possible where Escape is allowed).
    if (answer == 0 && escape != nullptr) {
      for (const auto& [button, id] : answers) {
        if (button == escape) answer = id;
      }
    }
  });
  return ran ? answer : 0;
}
