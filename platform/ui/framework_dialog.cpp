// Modal dialogs of the application framework, built from dialog templates.
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

#include "platform/dialog_builder.h"
#include "platform/framework_app.h"
#include "platform/framework_window.h"
#include "platform/modal_dialog.h"
#include "platform/qt_application.h"

namespace {

WPARAM CommandOf(int id) { return static_cast<WPARAM>(id & 0xFFFF); }

// The window of a CDialog: keys and the close box become the commands the
// dialog manager of the platform sends (Enter IDOK, Escape and the close box
// IDCANCEL), and only the dialog object ends the dialog.
class DialogWindow : public QDialog {
 public:
  DialogWindow(CDialog& owner, QWidget* parent) : QDialog(parent), m_owner(owner) {}

  // Ends the modal run with result.
  void End(int result) {
    m_ending = true;
    done(result);
  }

  void reject() override { m_owner.OnCommand(CommandOf(IDCANCEL), 0); }
  void accept() override { m_owner.OnCommand(CommandOf(IDOK), 0); }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
          button->click();
        } else {
          m_owner.OnCommand(CommandOf(IDOK), 0);
        }
        return;
      case Qt::Key_Escape:
        m_owner.OnCommand(CommandOf(IDCANCEL), 0);
        return;
      default:
        QDialog::keyPressEvent(event);
    }
  }

  void closeEvent(QCloseEvent* event) override {
    if (m_ending) {
      event->accept();
      return;
    }
    // The close box: the dialog object decides whether the dialog ends.
    m_owner.OnCommand(CommandOf(IDCANCEL), 0);
    if (!m_ending) event->ignore();
  }

 private:
  CDialog& m_owner;
  bool m_ending = false;
};

}  // namespace

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate) {
  m_pParentWnd = pParentWnd;
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
  if (platform::EnsureQtApplication() == nullptr) return -1;
  const HINSTANCE module = AfxGetResourceHandle();
  const platform::DialogTemplate* dialogTemplate =
      platform::FindDialogTemplate(module, static_cast<int>(m_nIDTemplate));
  if (dialogTemplate == nullptr) return -1;

  // Without a parent the application's main window owns the dialog.
  CWnd* owner = m_pParentWnd != nullptr ? m_pParentWnd : AfxGetMainWnd();
  DialogWindow window(*this, owner != nullptr ? owner->GetWidget() : nullptr);
  window.setWindowTitle(QString::fromUtf8(dialogTemplate->caption ? dialogTemplate->caption : ""));
  window.setFixedSize(platform::BuildDialogControls(window, *dialogTemplate, module));
  AttachWidget(&window);
  OnInitDialog();
  const int result = platform::RunModalDialog(window);
  DetachWidget();
  return result;
}

void CDialog::EndDialog(int nResult) {
  if (auto* window = dynamic_cast<DialogWindow*>(GetWidget())) window->End(nResult);
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM lParam) {
  switch (LOWORD(wParam)) {
    case IDOK:
      OnOK();
      return TRUE;
    case IDCANCEL:
      OnCancel();
      return TRUE;
    default:
      return CWnd::OnCommand(wParam, lParam);
  }
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }
