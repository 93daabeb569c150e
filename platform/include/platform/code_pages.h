// Code-page conversion of the platform. The ANSI and OEM code pages of this
// platform are both UTF-8; wide strings are UTF-16.
#pragma once

#include "platform/win32.h"

#define CP_ACP 0U
#define CP_OEMCP 1U
#define CP_MACCP 2U
#define CP_THREAD_ACP 3U
#define CP_UTF8 65001U

#define MB_PRECOMPOSED 0x00000001UL
#define MB_COMPOSITE 0x00000002UL
#define MB_USEGLYPHCHARS 0x00000004UL
#define MB_ERR_INVALID_CHARS 0x00000008UL

extern "C" {

// cbMultiByte -1: the text is NUL-terminated and the terminator is converted
// too. cchWideChar 0: only the number of UTF-16 units needed is returned.
// Returns the number of units written (or needed), 0 on failure:
// ERROR_INVALID_PARAMETER, ERROR_INVALID_FLAGS, ERROR_INSUFFICIENT_BUFFER
// (nothing is written then), ERROR_NO_UNICODE_TRANSLATION (invalid input
// with MB_ERR_INVALID_CHARS; without it each invalid byte becomes U+FFFD).
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

}  // extern "C"
