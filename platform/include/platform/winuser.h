// Window-system services of the platform: the mouse cursor.
#pragma once

#include "platform/win32.h"

typedef struct HICON__* HICON;
typedef HICON HCURSOR;

#ifndef MAKEINTRESOURCEA
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#endif
#ifndef IS_INTRESOURCE
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#endif

// The system cursors.
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_IBEAM MAKEINTRESOURCEA(32513)
#define IDC_WAIT MAKEINTRESOURCEA(32514)
#define IDC_CROSS MAKEINTRESOURCEA(32515)
#define IDC_UPARROW MAKEINTRESOURCEA(32516)
#define IDC_SIZENWSE MAKEINTRESOURCEA(32642)
#define IDC_SIZENESW MAKEINTRESOURCEA(32643)
#define IDC_SIZEWE MAKEINTRESOURCEA(32644)
#define IDC_SIZENS MAKEINTRESOURCEA(32645)
#define IDC_SIZEALL MAKEINTRESOURCEA(32646)
#define IDC_NO MAKEINTRESOURCEA(32648)
#define IDC_HAND MAKEINTRESOURCEA(32649)
#define IDC_APPSTARTING MAKEINTRESOURCEA(32650)
#define IDC_HELP MAKEINTRESOURCEA(32651)

extern "C" {

// A system cursor (hInstance NULL, lpCursorName one of the IDC_ values);
// NULL with ERROR_RESOURCE_NAME_NOT_FOUND for anything else.
HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);

// The program's cursor is shown over all of its windows: any cursor but the
// arrow becomes the Qt application's override cursor, the arrow removes
// it, NULL hides the cursor. Called from another thread than the
// application's, the change reaches the windows through the application's
// event loop. A program without a Qt application has no windows to show a
// cursor over: the cursor is remembered, and nothing is shown.
// Returns the cursor that was set before.
HCURSOR SetCursor(HCURSOR hCursor);
// The cursor last set; the arrow when none has been set.
HCURSOR GetCursor(void);

}  // extern "C"

// Window messages and notifications the platform's dialogs send, and the
// halves of a message parameter.
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_CTLCOLOREDIT 0x0133
#define WM_USER 0x0400
#define DM_SETDEFID (WM_USER + 1)
#define EN_CHANGE 0x0300
#define BN_CLICKED 0
#define LOWORD(l) ((WORD)(((ULONG_PTR)(l)) & 0xFFFF))
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xFFFF))
