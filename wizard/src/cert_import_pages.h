// The wizard's three pages: welcome, the file to import, and its password.
#pragma once

#include <string>

#include "platform/framework_sheet.h"

// Welcome: only Next.
class CCertImportPag0 : public CPropertyPageEx {
 public:
  BOOL OnSetActive() override;
};

// The PFX or PKCS#12 file: its name, typed or chosen with Browse; Next
// checks that it can be read and holds a PFX.
class CCertImportPag1 : public CPropertyPageEx {
 public:
  BOOL OnSetActive() override;
  LRESULT OnWizardNext() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

  std::string m_fileName;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;

 private:
  void OnBrowse();
};

// The file's password: Finish checks file and password again and runs the
// import onto the card.
class CCertImportPag2 : public CPropertyPageEx {
 public:
  ~CCertImportPag2() override;

  BOOL OnSetActive() override;
  BOOL OnWizardFinish() override;

  std::string m_password;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
};
