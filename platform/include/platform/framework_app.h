// The application object of the framework and the program's entry point.
//
// A program defines one global object of a class derived from CWinApp. The
// framework's entry point (main, in the library orvel_framework_main) finds
// it, makes the Qt application, and calls InitInstance; when InitInstance
// returns FALSE the program ends at once, otherwise Run serves the event
// loop until the last window closes.
#pragma once

#include "platform/framework_window.h"

class CWinApp : public CCmdTarget {
 public:
  // Becomes the program's application object; there is one.
  explicit CWinApp(LPCSTR lpszAppName = nullptr);
  ~CWinApp() override;

  virtual BOOL InitInstance();
  // The event loop; its exit code.
  virtual int Run();
  virtual int ExitInstance();

  LPCSTR m_pszAppName;
  HINSTANCE m_hInstance;
  CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The application's main window; nullptr without one.
CWnd* AfxGetMainWnd();
// The program's module.
HINSTANCE AfxGetInstanceHandle();
// The module whose resources (templates, strings, images) the framework
// loads; the program's module unless set otherwise.
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE resources);

// The framework's entry point: runs the application object. The program's
// arguments are not used.
int AfxWinMain();
