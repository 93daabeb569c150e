// Command targets, windows and data exchange of the application framework.
#include "platform/framework_window.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

#include <string.h>

#include "platform/dialog_builder.h"
#include "platform/window_handle.h"

// --- Wait cursor -------------------------------------------------------------

namespace {

struct WaitCursorState {
  int count = 0;
  HCURSOR restore = nullptr;  // the cursor before the outermost Begin
};

WaitCursorState& WaitCursor() {
  static WaitCursorState state;
  return state;
}

HCURSOR WaitCursorHandle() { return LoadCursorA(nullptr, IDC_WAIT); }

}  // namespace

void CCmdTarget::BeginWaitCursor() {
  WaitCursorState& state = WaitCursor();
  if (state.count++ == 0) {
    state.restore = SetCursor(WaitCursorHandle());
  } else {
    SetCursor(WaitCursorHandle());
  }
}

void CCmdTarget::EndWaitCursor() {
  WaitCursorState& state = WaitCursor();
  if (state.count == 0) return;  // an End without its Begin changes nothing
  if (--state.count == 0) {
    SetCursor(state.restore != nullptr ? state.restore : LoadCursorA(nullptr, IDC_ARROW));
    state.restore = nullptr;
  }
}

void CCmdTarget::RestoreWaitCursor() {
  if (WaitCursor().count > 0) SetCursor(WaitCursorHandle());
}

// --- Data exchange -----------------------------------------------------------

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value) {
  if (pDX == nullptr || pDX->m_pDlgWnd == nullptr) return;
  QWidget* control = pDX->m_pDlgWnd->GetDlgItem(nIDC);
  if (control == nullptr) return;
  auto* line = qobject_cast<QLineEdit*>(control);
  auto* text = qobject_cast<QPlainTextEdit*>(control);
  if (pDX->m_bSaveAndValidate) {
    QByteArray bytes;
    if (line != nullptr)
      bytes = line->text().toUtf8();
    else if (text != nullptr)
      bytes = text->toPlainText().toUtf8();
    else
      return;
    // The text may be a secret (a password, a PIN): the old value and the
    // intermediate copy are overwritten, not just released.
    explicit_bzero(value.data(), value.size());
    value.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    explicit_bzero(bytes.data(), static_cast<std::size_t>(bytes.size()));
  } else {
    const QString shown = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
    if (line != nullptr)
      line->setText(shown);
    else if (text != nullptr)
      text->setPlainText(shown);
  }
}

// --- CWnd --------------------------------------------------------------------

HWND CWnd::GetSafeHwnd() const { return platform::WindowHandleOf(m_widget.data()); }

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  if (m_widget == nullptr) return FALSE;
  CDataExchange exchange(this, bSaveAndValidate);
  DoDataExchange(&exchange);
  return TRUE;
}

int CWnd::MessageBox(LPCSTR lpszText, LPCSTR lpszCaption, UINT nType) {
  return MessageBoxA(GetSafeHwnd(), lpszText, lpszCaption, nType);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  QWidget* widget = m_widget.data();
  if (widget == nullptr) return FALSE;
  // The object may be gone by the time the message arrives with its window;
  // the widget's lifetime guards the call (the object outlives its widget).
  return QMetaObject::invokeMethod(
      widget, [this, message, wParam, lParam] { WindowProc(message, wParam, lParam); },
      Qt::QueuedConnection);
}

QWidget* CWnd::GetDlgItem(int nID) const {
  return m_widget != nullptr ? platform::DialogItem(*m_widget, nID) : nullptr;
}

BOOL CWnd::OnCommand(WPARAM, LPARAM) { return FALSE; }

namespace {

constexpr char kFrameworkWindowProperty[] = "frameworkWindow";

// The closest window (itself included) that a framework object is attached
// to: the buttons of a page belong to the page, not to its sheet.
const QWidget* OwningWindow(const QWidget* widget) {
  for (; widget != nullptr; widget = widget->parentWidget()) {
    if (widget->property(kFrameworkWindowProperty).toBool()) return widget;
  }
  return nullptr;
}

}  // namespace

void CWnd::AttachWidget(QWidget* widget) {
  m_widget = widget;
  if (widget == nullptr) return;
  widget->setProperty(kFrameworkWindowProperty, true);
  for (QPushButton* button : widget->findChildren<QPushButton*>()) {
    const int id = platform::DialogItemId(*button);
    if (id == platform::kNoControlId || OwningWindow(button) != widget) continue;
    QObject::connect(button, &QPushButton::clicked, widget, [this, id, button] {
      OnCommand(static_cast<WPARAM>(id & 0xFFFF) | (static_cast<WPARAM>(BN_CLICKED) << 16),
                reinterpret_cast<LPARAM>(platform::WindowHandleOf(button)));
    });
  }
}

void CWnd::DetachWidget() { m_widget = nullptr; }
