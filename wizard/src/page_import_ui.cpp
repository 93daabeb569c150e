#include "page_import_ui.h"

#include "page_message.h"
#include "pin_dialog.h"

void CPageImportUi::ShowPageMessage(UINT icon, UINT captionId, UINT textId) {
  ::ShowPageMessage(m_page, icon, captionId, textId);
}

std::optional<CPinText> CPageImportUi::PromptForPin() {
  // A fresh dialog for every certificate; it wipes its copy of the PIN when
  // it goes.
  CPinDialog dialog;
  if (dialog.DoModal() != IDOK) return std::nullopt;
  return CPinText(dialog.m_pin);
}
