// A modal dialog built from one of the module's dialog templates whose
// behaviour is a dialog procedure: the host turns what happens to the Qt
// widgets into the messages the procedure answers (initialisation, commands
// from buttons and the edit, painting, edit colours, destruction), and the
// procedure acts on the dialog through the host, as it would through the
// window functions.
//
// Keys: Enter sends the command of the current default button, Escape and
// the caption's close box send IDCANCEL. A command the procedure does not
// handle changes nothing.
#pragma once

#include <QColor>
#include <QDialog>
#include <QString>

#include "platform/dialog_template.h"
#include "platform/message_box.h"  // IDOK, IDCANCEL
#include "platform/win32.h"
#include "platform/winuser.h"

class QLineEdit;
class QPainter;
class QPushButton;
class QWidget;

class DialogHost;

// lParam of WM_CTLCOLOREDIT: the colours the edit is drawn with, which the
// procedure may change; it returns a pointer to the background QColor (the
// brush) or 0 to leave the edit as it is.
struct EditColors {
  QColor text;
  QColor background;
};

using DialogProc = INT_PTR (*)(DialogHost& dialog, UINT message, WPARAM wParam, LPARAM lParam);

inline constexpr WPARAM MakeCommand(int id, int notification) {
  return static_cast<WPARAM>((id & 0xFFFF) | ((notification & 0xFFFF) << 16));
}
inline constexpr int CommandId(WPARAM wParam) { return static_cast<int>(wParam & 0xFFFF); }
inline constexpr int CommandNotification(WPARAM wParam) {
  return static_cast<int>((wParam >> 16) & 0xFFFF);
}

class DialogHost : public QDialog {
 public:
  // Builds the controls of the template (images from module) and sends
  // WM_INITDIALOG with param.
  DialogHost(HINSTANCE module, const platform::DialogTemplate& dialogTemplate, DialogProc procedure,
             LPARAM param);
  ~DialogHost() override;

  // --- What the procedure does to the dialog ---
  void SetItemText(int id, const QString& text);
  QString ItemText(int id) const;
  void LimitText(int id, int maxCharacters);
  void FocusItem(int id);
  void SetDefaultId(int id);
  int DefaultId() const { return m_defaultId; }
  void End(int result);
  void SetTitle(const QString& title);
  void SetUserData(LPARAM data) { m_userData = data; }
  LPARAM UserData() const { return m_userData; }
  // The painter of the paint in progress (during WM_PAINT only).
  QPainter* Painter() const { return m_painter; }
  QWidget* Item(int id) const;

  // Sends a message to the procedure.
  INT_PTR Send(UINT message, WPARAM wParam, LPARAM lParam);

  // Closing the dialog from outside (reject) is the Cancel command.
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Build(HINSTANCE module, const platform::DialogTemplate& dialogTemplate);
  void ApplyEditColors();

  DialogProc m_procedure;
  int m_defaultId = IDOK;
  LPARAM m_userData = 0;
  QPainter* m_painter = nullptr;
  bool m_ended = false;
};

// Runs template templateId of module modally with the procedure, on the Qt
// application's thread; returns the value the procedure ended it with, -1
// when it could not be shown.
INT_PTR RunDialog(HINSTANCE module, int templateId, DialogProc procedure, LPARAM param);

// The base units of the system font, low word the width and high word the
// height, as the window functions give them.
LONG SystemDialogBaseUnits();
