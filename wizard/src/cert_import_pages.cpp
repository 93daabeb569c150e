#include "cert_import_pages.h"

#include <optional>
#include <vector>

#include "common/secure_wipe.h"
#include "page_import_ui.h"
#include "page_message.h"
#include "password_conversion.h"
#include "pfx_file.h"
#include "platform/framework_file_dialog.h"
#include "platform/wincrypt.h"
#include "property_sheet.h"
#include "resource_ids.h"
#include "wizard/import_driver.h"

namespace {

constexpr char kPfxFilter[] =
    "Ficheros PFX (*.pfx)|*.pfx|Ficheros PKCS#12 (*.p12)|*.p12|Todos los ficheros (*.*)|*.*||";

CRYPT_DATA_BLOB BlobOf(std::vector<BYTE>& bytes) {
  return CRYPT_DATA_BLOB{static_cast<DWORD>(bytes.size()), bytes.data()};
}

void ShowError(CWnd& page, UINT textId) {
  ShowPageMessage(page, MB_ICONHAND, IDS_CAPTION_ERROR, textId);
}

void ShowWarning(CWnd& page, UINT textId) {
  ShowPageMessage(page, MB_ICONEXCLAMATION, IDS_CAPTION_WARNING, textId);
}

// The file read and found to hold a PFX; nothing after its message.
std::optional<std::vector<BYTE>> ReadPfxFile(CWnd& page, const std::string& name) {
  std::optional<std::vector<BYTE>> bytes = ReadWholeFile(name);
  if (!bytes) {
    ShowError(page, IDS_FILE_UNREADABLE);
    return std::nullopt;
  }
  CRYPT_DATA_BLOB blob = BlobOf(*bytes);
  if (!PFXIsPFXBlob(&blob)) {
    ShowError(page, IDS_NOT_PFX);
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

// --- Welcome -----------------------------------------------------------------

BOOL CCertImportPag0::OnSetActive() {
  GetParent()->PostMessage(PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
  return CPropertyPageEx::OnSetActive();
}

// --- The file ----------------------------------------------------------------

BOOL CCertImportPag1::OnSetActive() {
  GetParent()->PostMessage(PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
  return CPropertyPageEx::OnSetActive();
}

void CCertImportPag1::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, IDC_FILE_NAME, m_fileName);
}

BOOL CCertImportPag1::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == IDC_BROWSE && HIWORD(wParam) == BN_CLICKED) {
    OnBrowse();
    return TRUE;
  }
  return CPropertyPageEx::OnCommand(wParam, lParam);
}

void CCertImportPag1::OnBrowse() {
  CFileDialog dialog(TRUE, "pfx", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kPfxFilter,
                     nullptr);
  if (dialog.DoModal() != IDOK) return;
  m_fileName = dialog.GetPathName();
  UpdateData(FALSE);
}

LRESULT CCertImportPag1::OnWizardNext() {
  UpdateData(TRUE);
  // Read only to check it: Finish reads the file again.
  if (!ReadPfxFile(*this, m_fileName)) return -1;
  return CPropertyPageEx::OnWizardNext();
}

// --- The password ------------------------------------------------------------

CCertImportPag2::~CCertImportPag2() { SecureWipe(m_password.data(), m_password.size()); }

BOOL CCertImportPag2::OnSetActive() {
  GetParent()->PostMessage(PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT | PSWIZB_FINISH);
  return CPropertyPageEx::OnSetActive();
}

void CCertImportPag2::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, IDC_PASSWORD, m_password);
}

BOOL CCertImportPag2::OnWizardFinish() {
  UpdateData(TRUE);

  // The file may have changed since the file page was left.
  const auto& sheet = static_cast<const CPagPropiedades&>(*GetParent());
  std::optional<std::vector<BYTE>> bytes = ReadPfxFile(*this, sheet.m_pag1.m_fileName);
  if (!bytes) return FALSE;
  CRYPT_DATA_BLOB pfx = BlobOf(*bytes);

  if (m_password.empty()) {
    ShowError(*this, IDS_EMPTY_PASSWORD);
    return FALSE;
  }
  CWidePassword password;
  switch (ConvertPassword(m_password, &password)) {
    case PasswordConversion::Converted:
      break;
    case PasswordConversion::NoMemory:
      ShowError(*this, IDS_NO_MEMORY);
      return FALSE;
    case PasswordConversion::Failed:
      ShowWarning(*this, IDS_PASSWORD_NOT_UNICODE);
      return FALSE;
  }
  if (!PFXVerifyPassword(&pfx, password.c_str(), 0)) {
    ShowWarning(*this, IDS_WRONG_PASSWORD);
    return FALSE;
  }

  CPageImportUi ui(*this);
  switch (ImportStoreToCard(&pfx, password.c_str(), ui)) {
    case ImportOutcome::Refused:
      return FALSE;
    case ImportOutcome::Stopped:
      return TRUE;
    case ImportOutcome::Completed:
      break;
  }
  return CPropertyPageEx::OnWizardFinish();
}
