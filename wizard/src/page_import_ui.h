// The import driver's user-interface operations as a wizard page supplies
// them: the page's message boxes and wait cursor, and the PIN dialog.
#pragma once

#include "platform/framework_window.h"
#include "wizard/import_ui.h"

class CPageImportUi : public CImportUi {
 public:
  explicit CPageImportUi(CWnd& page) : m_page(page) {}

  void ShowPageMessage(UINT icon, UINT captionId, UINT textId) override;
  void BeginWaitCursor() override { m_page.BeginWaitCursor(); }
  void EndWaitCursor() override { m_page.EndWaitCursor(); }
  std::optional<CPinText> PromptForPin() override;

 private:
  CWnd& m_page;
};
