// Version query: the stand-in reports an NT-family platform, version 10.0.
#include "platform/version_info.h"

#include <cstring>

extern "C" BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  info->dwMajorVersion = 10;
  info->dwMinorVersion = 0;
  info->dwBuildNumber = 0;
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  return TRUE;
}
