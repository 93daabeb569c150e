// Asking the user for the card PIN in the module's PIN dialog, whose prompt
// is painted in a large bold italic font.
#pragma once

#include <QColor>
#include <QPoint>

#include <cstddef>

#include "common/non_copyable.h"
#include "platform/dialog_host.h"
#include "platform/win32.h"

inline constexpr int kMaxPinLength = 20;
inline constexpr int kPinEditId = 1000;

struct PinDialogParams {
  char* title;
  char* prompt;
  char* pin;  // room for maxLength characters and a terminator
  int maxLength;
};

class PinPrompt : private NonCopyable {
 public:
  PinPrompt() = default;
  virtual ~PinPrompt();

  // Shows the PIN dialog; the typed PIN (kept by this object until it goes),
  // or null when the user cancelled or memory ran out.
  const char* GetPin();

 private:
  char m_pin[kMaxPinLength + 1] = {};
};

INT_PTR PinDialogProc(DialogHost& dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Where and how large the prompt is painted: with system base units of
// 8 x 16 the large layout, otherwise the small one.
struct PromptLayout {
  QPoint position;
  int tenthsOfPoint;
};
bool LargePromptLayout(LONG dialogBaseUnits);
PromptLayout PromptLayoutFor(bool large);

inline const QColor kPromptColor(0, 0, 128);
inline const QColor kPinEditBackground(255, 242, 236);
inline constexpr char kPromptFaceName[] = "book antiqua";
