// Property sheets and pages of the framework, in wizard mode: a modal sheet
// that shows one page at a time with Back, Next, Finish and Cancel. With
// PSH_WIZARD97 each page shows its header title and subtitle above it (no
// watermark or header bitmap).
//
// Pages are built from dialog templates of the program's resources when the
// sheet runs, and keep their controls until it ends, so what the user typed
// on a page survives moving back and forth.
#pragma once

#include <vector>

#include "platform/framework_window.h"

// Sheet messages.
#define PSM_SETWIZBUTTONS (WM_USER + 112)

// Wizard buttons (lParam of PSM_SETWIZBUTTONS).
#define PSWIZB_BACK 0x00000001
#define PSWIZB_NEXT 0x00000002
#define PSWIZB_FINISH 0x00000004
#define PSWIZB_DISABLEDFINISH 0x00000008

// Sheet header flags.
#define PSH_WIZARD 0x00000020
#define PSH_WIZARD97 0x01000000

// Page flags.
#define PSP_USEHEADERTITLE 0x00001000
#define PSP_USEHEADERSUBTITLE 0x00002000

// Results of a wizard's DoModal.
#define ID_WIZBACK 0x3023
#define ID_WIZNEXT 0x3024
#define ID_WIZFINISH 0x3025

struct PROPSHEETHEADER {
  DWORD dwFlags;
  HINSTANCE hInstance;  // the module of the caption string
};

struct PROPSHEETPAGE {
  DWORD dwFlags;
  UINT pszTemplate;        // dialog template id
  UINT pszHeaderTitle;     // string id, with PSP_USEHEADERTITLE
  UINT pszHeaderSubTitle;  // string id, with PSP_USEHEADERSUBTITLE
};

class CPropertySheetEx;

class CPropertyPageEx : public CWnd {
 public:
  CPropertyPageEx() = default;
  explicit CPropertyPageEx(UINT nIDTemplate, UINT nIDCaption = 0, UINT nIDHeaderTitle = 0,
                           UINT nIDHeaderSubTitle = 0);
  ~CPropertyPageEx() override = default;

  // Sets the template and the header strings (0: none). The caption is the
  // template's; nIDCaption is accepted for the framework's signature.
  void Construct(UINT nIDTemplate, UINT nIDCaption = 0, UINT nIDHeaderTitle = 0,
                 UINT nIDHeaderSubTitle = 0);

  // The page becomes the shown one. TRUE.
  virtual BOOL OnSetActive();
  // The page stops being the shown one: its controls go to its data.
  virtual BOOL OnKillActive();
  // Next was pressed: 0 goes on to the next page, -1 stays, a page's
  // template id goes to that page.
  virtual LRESULT OnWizardNext();
  // Finish was pressed: TRUE closes the sheet, FALSE stays.
  virtual BOOL OnWizardFinish();

  PROPSHEETPAGE m_psp{};

 protected:
  // The controls are filled from the data when the page is built.
  virtual BOOL OnInitDialog();

 private:
  friend class CPropertySheetEx;
  friend class PropertySheetWindow;
};

class CPropertySheetEx : public CWnd {
 public:
  // nIDCaption: string id of the caption, from m_psh.hInstance; iSelectPage:
  // the page shown first.
  explicit CPropertySheetEx(UINT nIDCaption, CWnd* pParentWnd = nullptr, UINT iSelectPage = 0);
  ~CPropertySheetEx() override;

  // Pages are shown in the order added; the sheet does not own them.
  void AddPage(CPropertyPageEx* pPage);
  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  CPropertyPageEx* GetPage(int nPage) const;
  // The shown page; nullptr while the sheet is not running.
  CPropertyPageEx* GetActivePage() const;
  int GetActiveIndex() const;

  // Enables Back and Next, or shows Finish instead of Next.
  void SetWizardButtons(DWORD dwFlags);

  // Runs the sheet modally: ID_WIZFINISH when Finish closed it, IDCANCEL
  // when it was cancelled or closed, -1 when it could not be shown (no
  // wizard flag, no page, a template missing).
  virtual INT_PTR DoModal();

  PROPSHEETHEADER m_psh{};

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  friend class PropertySheetWindow;

  UINT m_nIDCaption;
  UINT m_nStartPage;
  std::vector<CPropertyPageEx*> m_pages;
};
