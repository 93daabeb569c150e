// The application object and the framework's state.
#include "platform/framework_app.h"

#include <QApplication>

#include "platform/module_handle.h"
#include "platform/qt_application.h"

namespace {

// Function-local, so that it is ready for application objects constructed
// during the program's static initialisation.
struct FrameworkState {
  CWinApp* app = nullptr;
  HINSTANCE resources = nullptr;
};

FrameworkState& State() {
  static FrameworkState state;
  return state;
}

}  // namespace

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_pszAppName(lpszAppName), m_hInstance(AfxGetInstanceHandle()) {
  State().app = this;
}

CWinApp::~CWinApp() {
  if (State().app == this) State().app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  const int code = QApplication::exec();
  ExitInstance();
  return code;
}

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return State().app; }

CWnd* AfxGetMainWnd() {
  CWinApp* app = AfxGetApp();
  return app != nullptr ? app->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle() { return platform::ProgramModule(); }

HINSTANCE AfxGetResourceHandle() {
  const HINSTANCE resources = State().resources;
  return resources != nullptr ? resources : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE resources) { State().resources = resources; }

int AfxWinMain() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr || platform::EnsureQtApplication() == nullptr) return -1;
  if (app->m_pszAppName != nullptr) {
    QCoreApplication::setApplicationName(QString::fromUtf8(app->m_pszAppName));
  }
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}
