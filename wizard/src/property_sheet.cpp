#include "property_sheet.h"

#include "resource_ids.h"

CPagPropiedades::CPagPropiedades(UINT nIDCaption, CWnd* pParentWnd, UINT iSelectPage)
    : CPropertySheetEx(nIDCaption, pParentWnd, iSelectPage) {
  m_pag0.Construct(IDD_WELCOME_PAGE, 0, IDS_WELCOME_TITLE, 0);
  m_pag1.Construct(IDD_FILE_PAGE, 0, IDS_FILE_TITLE, IDS_FILE_SUBTITLE);
  m_pag2.Construct(IDD_PASSWORD_PAGE, 0, IDS_PASSWORD_TITLE, IDS_PASSWORD_SUBTITLE);
  AddPage(&m_pag0);
  AddPage(&m_pag1);
  AddPage(&m_pag2);
  m_psh.dwFlags |= PSH_WIZARD97;
}
