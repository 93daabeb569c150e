// Numbers of the module's dialog templates and icons.
#pragma once

inline constexpr int kPinDialogTemplateId = 101;
inline constexpr int kNoticeDialogTemplateId = 108;

inline constexpr int kCardsIconId = 104;
inline constexpr int kChipIconId = 105;
inline constexpr int kWarningIconId = 111;
