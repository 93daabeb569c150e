// Numbers of the module's resources: dialog templates, icons and
// string-table entries.
#pragma once

#include "platform/win32.h"

inline constexpr int kPinDialogTemplateId = 101;
inline constexpr int kNoticeDialogTemplateId = 108;

inline constexpr int kCardsIconId = 104;
inline constexpr int kChipIconId = 105;
inline constexpr int kWarningIconId = 111;

// String-table entries.
inline constexpr UINT IDS_CARD_SELECTION_TITLE = 1;
inline constexpr UINT IDS_NO_CARD = 2;
inline constexpr UINT IDS_CAPTION_ERROR = 3;
inline constexpr UINT IDS_NO_CONTEXT_NT = 4;
inline constexpr UINT IDS_NO_CONTEXT_OTHER = 5;
inline constexpr UINT IDS_KEY_NOT_EXPORTED = 6;
inline constexpr UINT IDS_ALGORITHM_REFUSED = 7;
inline constexpr UINT IDS_PIN_TITLE = 8;
inline constexpr UINT IDS_PIN_PROMPT = 9;
inline constexpr UINT IDS_NOT_SUPPORTED = 10;
inline constexpr UINT IDS_INVALID_PIN = 11;
inline constexpr UINT IDS_KEYS_NOT_WRITTEN = 12;
inline constexpr UINT IDS_CARD_ERROR = 13;
inline constexpr UINT IDS_CARD_FULL = 14;
inline constexpr UINT IDS_NOT_ATTACHED = 15;
inline constexpr UINT IDS_CARD_IMPORT_QUESTION = 16;
inline constexpr UINT IDS_CAPTION_WARNING = 18;
