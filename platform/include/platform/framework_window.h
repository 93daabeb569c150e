// The application framework's window classes, on Qt widgets: command targets
// with the wait cursor, windows with data exchange, message boxes and posted
// messages, and modal dialogs built from the module's dialog templates.
//
// A CWnd is the program's object for a window; the Qt widget behind it lives
// only while the window is on screen (a dialog during DoModal, a property
// page while its sheet runs). Dialogs run through platform::RunModalDialog,
// so tests answer them with platform::SetDialogShownHook.
#pragma once

#include <QPointer>
#include <QWidget>

#include <string>

#include "common/non_copyable.h"
#include "platform/message_box.h"
#include "platform/win32.h"
#include "platform/winuser.h"

// Base of every framework object that takes commands. The wait cursor is
// the program's: nested Begin/End pairs show it until the outermost End.
class CCmdTarget : private NonCopyable {
 public:
  CCmdTarget() = default;
  virtual ~CCmdTarget() = default;

  void BeginWaitCursor();
  void EndWaitCursor();
  // Shows the wait cursor again while one is pending (after a dialog).
  void RestoreWaitCursor();
};

class CWnd;

// What DoDataExchange moves, and in which direction.
class CDataExchange {
 public:
  CDataExchange(CWnd* dialogWindow, BOOL saveAndValidate)
      : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialogWindow) {}

  BOOL m_bSaveAndValidate;  // TRUE: controls to data; FALSE: data to controls
  CWnd* m_pDlgWnd;
};

// The text of edit control id to value or back. The text is in the ANSI
// code page of the platform (UTF-8). No validation, no length limit.
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);

class CWnd : public CCmdTarget {
 public:
  CWnd() = default;
  ~CWnd() override = default;

  // The window's widget as a window handle; NULL while it is not on screen.
  HWND GetSafeHwnd() const;
  QWidget* GetWidget() const { return m_widget.data(); }
  // The window this one belongs to (a page's sheet, a dialog's owner).
  CWnd* GetParent() const { return m_pParentWnd; }

  // Moves data between the controls and the members through
  // DoDataExchange: TRUE reads the controls, FALSE fills them.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // A modal message box owned by this window; returns the button pressed.
  int MessageBox(LPCSTR lpszText, LPCSTR lpszCaption = nullptr, UINT nType = MB_OK);

  // Queues the message for the window; WindowProc gets it from the event
  // loop. FALSE when the window is not on screen.
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

  // A control of the window by identifier; nullptr when there is none.
  QWidget* GetDlgItem(int nID) const;

  // Commands from the window's push buttons: the control id in the low word
  // of wParam, the notification in the high word. TRUE when handled.
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);

 protected:
  virtual void DoDataExchange(CDataExchange* pDX) {}
  // Messages posted to the window.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) { return 0; }

  // The framework ties the object to its widget for the time on screen, and
  // sends the clicks of its identified push buttons to OnCommand.
  void AttachWidget(QWidget* widget);
  void DetachWidget();

  CWnd* m_pParentWnd = nullptr;

 private:
  QPointer<QWidget> m_widget;
};

// A modal dialog from a dialog template of the program's resources. OK
// (button IDOK or Enter) exchanges the data and ends with IDOK; Cancel,
// Escape and the close box end with IDCANCEL.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Runs the dialog; its result, or -1 when it could not be created (no
  // template, no application).
  virtual INT_PTR DoModal();
  void EndDialog(int nResult);

  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 protected:
  // Fills the controls from the data.
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  UINT m_nIDTemplate;
};
