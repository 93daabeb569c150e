#include "pin_dialog.h"

#include "common/secure_wipe.h"
#include "resource_ids.h"

CPinDialog::CPinDialog(CWnd* pParent) : CDialog(IDD_PIN_DIALOG, pParent) {}

CPinDialog::~CPinDialog() { SecureWipe(m_pin.data(), m_pin.size()); }

void CPinDialog::DoDataExchange(CDataExchange* pDX) { DDX_Text(pDX, IDC_PIN, m_pin); }
