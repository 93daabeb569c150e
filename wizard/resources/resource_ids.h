// Numbers of the wizard's resources: dialog templates, their controls,
// string-table entries and images.
#pragma once

#include "platform/win32.h"

// Dialog templates.
inline constexpr UINT IDD_FILE_PAGE = 107;
inline constexpr UINT IDD_PIN_DIALOG = 108;
inline constexpr UINT IDD_PASSWORD_PAGE = 130;
inline constexpr UINT IDD_WELCOME_PAGE = 133;

// Controls.
inline constexpr int IDC_FILE_NAME = 1002;
inline constexpr int IDC_BROWSE = 1003;
inline constexpr int IDC_PASSWORD = 1004;
inline constexpr int IDC_PIN = 1005;

// Images.
inline constexpr int IDR_MAINFRAME = 128;  // the program's icon
inline constexpr int IDI_PIN = 110;        // the PIN dialog's icon
inline constexpr int IDB_WELCOME = 135;    // the welcome page's picture

// String-table entries.
inline constexpr UINT IDS_SHEET_CAPTION = 1;
inline constexpr UINT IDS_FILE_TITLE = 2;
inline constexpr UINT IDS_FILE_SUBTITLE = 3;
inline constexpr UINT IDS_WELCOME_TITLE = 4;
inline constexpr UINT IDS_PASSWORD_TITLE = 5;
inline constexpr UINT IDS_PASSWORD_SUBTITLE = 6;
inline constexpr UINT IDS_CAPTION_ERROR = 7;
inline constexpr UINT IDS_CAPTION_WARNING = 8;
inline constexpr UINT IDS_FILE_UNREADABLE = 9;
inline constexpr UINT IDS_NOT_PFX = 10;
inline constexpr UINT IDS_NO_MEMORY = 11;
inline constexpr UINT IDS_PASSWORD_NOT_UNICODE = 12;
inline constexpr UINT IDS_WRONG_PASSWORD = 13;
inline constexpr UINT IDS_PFX_NOT_OPENED = 14;
inline constexpr UINT IDS_CAPTION_INFORMATION = 17;
inline constexpr UINT IDS_IMPORT_DONE = 18;
inline constexpr UINT IDS_NOTHING_IMPORTED = 19;
inline constexpr UINT IDS_CARD_SELECTION_TITLE = 22;
inline constexpr UINT IDS_NO_CARD = 23;
inline constexpr UINT IDS_NO_CONTEXT_NT = 24;
inline constexpr UINT IDS_NO_CONTEXT_OTHER = 25;
inline constexpr UINT IDS_KEY_NOT_EXPORTED = 26;
inline constexpr UINT IDS_ALGORITHM_REFUSED = 27;
inline constexpr UINT IDS_NOT_SUPPORTED = 30;
inline constexpr UINT IDS_INVALID_PIN = 31;
inline constexpr UINT IDS_KEYS_NOT_WRITTEN = 32;
inline constexpr UINT IDS_CARD_ERROR = 33;
inline constexpr UINT IDS_CARD_FULL = 34;
inline constexpr UINT IDS_NOT_ATTACHED = 35;
inline constexpr UINT IDS_EMPTY_PASSWORD = 36;
