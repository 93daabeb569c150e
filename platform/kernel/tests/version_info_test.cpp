#include <gtest/gtest.h>

#include <cstring>

#include "platform/version_info.h"

namespace {

TEST(VersionInfo, ReportsTheNtFamily) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_GE(info.dwMajorVersion, 5u);
}

TEST(VersionInfo, WrongSizeIsRefusedAndLeavesTheStructure) {
  OSVERSIONINFOA info;
  std::memset(&info, 0xAB, sizeof(info));
  info.dwOSVersionInfoSize = 148;  // the size on other platforms, not here
  SetLastError(0);
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_NE(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_FALSE(GetVersionExA(nullptr));
}

}  // namespace
