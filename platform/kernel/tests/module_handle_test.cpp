#include <gtest/gtest.h>

#include <dlfcn.h>

#include "platform/module_handle.h"

namespace {

int g_inProgram = 0;

TEST(ModuleHandle, ProgramModuleContainsTheProgramsData) {
  const HINSTANCE program = platform::ProgramModule();
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(platform::ModuleOfAddress(&g_inProgram), program);
  EXPECT_EQ(GetModuleHandleA(nullptr), program);
}

TEST(ModuleHandle, SharedLibrariesAreModulesOfTheirOwn) {
  void* handle = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  const HINSTANCE libc = platform::ModuleOfAddress(dlsym(handle, "gnu_get_libc_version"));
  dlclose(handle);
  ASSERT_NE(libc, nullptr);
  EXPECT_NE(libc, platform::ProgramModule());
  EXPECT_EQ(GetModuleHandleA("libc.so.6"), libc);
}

TEST(ModuleHandle, UnknownAddressesAndNamesHaveNoModule) {
  EXPECT_EQ(platform::ModuleOfAddress(nullptr), nullptr);
  int onStack = 0;
  EXPECT_EQ(platform::ModuleOfAddress(&onStack), nullptr);
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("liborvel-not-loaded.so"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
