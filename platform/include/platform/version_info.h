// The platform's version query. This platform belongs to the NT family: the
// smart-card resource manager runs as a service (pcscd).
#pragma once

#include "platform/win32.h"

#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;  // sizeof(OSVERSIONINFOA), set by the caller
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

extern "C" {
// FALSE with ERROR_INSUFFICIENT_BUFFER when dwOSVersionInfoSize is not
// sizeof(OSVERSIONINFOA); the structure is then left untouched.
BOOL GetVersionExA(LPOSVERSIONINFOA info);
}
