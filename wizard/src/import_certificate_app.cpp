// The program OrvelImportCertificate: its application object runs the
// wizard sheet once and ends the program.
#include <QApplication>
#include <QIcon>

#include "common/module_instance.h"
#include "platform/framework_app.h"
#include "platform/image_resources.h"
#include "platform/module_handle.h"
#include "property_sheet.h"
#include "resource_ids.h"
#include "version_info.h"

class COrvelImportCertificateApp : public CWinApp {
 public:
  COrvelImportCertificateApp() : CWinApp(ORVEL_WIZARD_INTERNAL_NAME) {}
  BOOL InitInstance() override;
};

namespace {

// Initialised in definition order: the module's instance handle is in
// ModuleInstance before the application object below is built.
const bool kModuleInstanceStored = [] {
  ModuleInstance = AfxGetInstanceHandle();
  return true;
}();

}  // namespace

COrvelImportCertificateApp theApp;

BOOL COrvelImportCertificateApp::InitInstance() {
  const WORD* version = kProgramVersion.fileVersion;
  QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3.%4")
                                              .arg(version[0])
                                              .arg(version[1])
                                              .arg(version[2])
                                              .arg(version[3]));
  QApplication::setWindowIcon(
      QIcon(platform::LoadImageResource(ModuleInstance, IDR_MAINFRAME, platform::ImageKind::Icon)));

  CPagPropiedades sheet(IDS_SHEET_CAPTION, nullptr, 0);
  sheet.m_psh.hInstance = GetModuleHandleA(nullptr);
  m_pMainWnd = &sheet;
  // Finish, Cancel and the close box all end the program the same way.
  sheet.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}
