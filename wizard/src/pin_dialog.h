// The dialog that asks for the card PIN: one masked edit, OK and Cancel.
// It checks nothing; the caller judges the answer.
#pragma once

#include <string>

#include "platform/framework_window.h"

class CPinDialog : public CDialog {
 public:
  // Without a parent the application's main window owns the dialog.
  explicit CPinDialog(CWnd* pParent = nullptr);
  // Wipes the PIN.
  ~CPinDialog() override;

  // The PIN as typed, after DoModal ended with IDOK.
  std::string m_pin;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
};
