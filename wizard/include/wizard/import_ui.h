// The user-interface operations the import driver needs from the page that
// runs it. The driver has no window code of its own.
#pragma once

#include <optional>

#include "card/pin_text.h"
#include "platform/win32.h"

class CImportUi {
 public:
  virtual ~CImportUi() = default;
  // Shows string-table entries captionId and textId in a modal message box
  // with only an OK button and the icon (MB_ICONHAND, MB_ICONEXCLAMATION or
  // MB_ICONASTERISK).
  virtual void ShowPageMessage(UINT icon, UINT captionId, UINT textId) = 0;
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
  // Runs the PIN dialog: the PIN when it ended with OK, nothing otherwise.
  virtual std::optional<CPinText> PromptForPin() = 0;
};
