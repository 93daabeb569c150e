#include "common/windows_version.h"

#include "platform/version_info.h"

bool IsWindowsNT() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  // The result is not looked at: a failed query leaves dwPlatformId at 0,
  // which reads as "not NT".
  GetVersionExA(&info);
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
