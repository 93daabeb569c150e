// The module's messages: a message box from two string-table entries, and
// the notice dialog for failures. Both have no owner window.
#pragma once

#include "platform/dialog_host.h"
#include "platform/win32.h"

// Caption and text from the string table, the text used as a printf format
// for the arguments. Returns the box's answer, or -1 (showing nothing) when
// either entry is missing.
int ShowMessage(HWND owner, UINT style, UINT captionId, UINT textId, ...);

// The notice dialog with entry textId as its message; returns once the user
// pressed OK.
void ShowNotice(UINT textId);

INT_PTR NoticeDialogProc(DialogHost& dialog, UINT message, WPARAM wParam, LPARAM lParam);

inline constexpr int kNoticeTextId = 1003;
