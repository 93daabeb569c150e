// The wizard sheet: its three pages in order, the caption of string 1, the
// Wizard97 look.
#pragma once

#include "cert_import_pages.h"

class CPagPropiedades : public CPropertySheetEx {
 public:
  CPagPropiedades(UINT nIDCaption, CWnd* pParentWnd = nullptr, UINT iSelectPage = 0);

  CCertImportPag0 m_pag0;
  CCertImportPag1 m_pag1;
  CCertImportPag2 m_pag2;
};
