// Loading modules: name mapping and search, an attach for every load and a
// detach for every unload, exports of the module itself.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "orvel_test/temp_dir.h"
#include "platform/kernel.h"
#include "platform/module_handle.h"

namespace {

using IntFunction = int (*)();

std::filesystem::path ProgramDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

int Call(HMODULE module, const char* name) {
  auto function = reinterpret_cast<IntFunction>(GetProcAddress(module, name));
  return function ? function() : -1;
}

HMODULE g_unloaded = nullptr;
void NoteUnload(HMODULE module) { g_unloaded = module; }

TEST(ModuleLoader, PlatformNamesReachTheBuiltLibrary) {
  const auto found = platform::FindModuleFile("OrvelKernelTestModule.dll");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->filename(), "libOrvelKernelTestModule.so");
  EXPECT_EQ(found->parent_path(), std::filesystem::weakly_canonical(ProgramDir()));
  EXPECT_TRUE(platform::FindModuleFile("OrvelKernelTestModule.DLL"));  // the suffix in any case
  EXPECT_EQ(platform::FindModuleFile("libOrvelKernelTestModule.so"), found);
  EXPECT_EQ(platform::FindModuleFile((ProgramDir() / "OrvelKernelTestModule.dll").string()), found);
  EXPECT_FALSE(platform::FindModuleFile("NoSuchModule.dll"));
  EXPECT_FALSE(platform::FindModuleFile(""));
}

TEST(ModuleLoader, ConfiguredDirectoriesAreSearchedFirst) {
  const orvel_test::TempDir temp("orvel-modules");
  const auto& dir = temp.Path();
  std::filesystem::copy_file(ProgramDir() / "libOrvelKernelTestModule.so",
                             dir / "OrvelKernelTestModule.so",
                             std::filesystem::copy_options::overwrite_existing);
  ::setenv("ORVEL_MODULE_PATH", ("/nonexistent:" + dir.string()).c_str(), 1);
  const auto found = platform::FindModuleFile("OrvelKernelTestModule.dll");
  ::unsetenv("ORVEL_MODULE_PATH");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->filename(), "OrvelKernelTestModule.so");
  EXPECT_EQ(found->parent_path(), std::filesystem::weakly_canonical(dir));
}

TEST(ModuleLoader, EveryLoadAttachesAndEveryUnloadDetaches) {
  platform::AddModuleUnloadedCallback(&NoteUnload);
  HMODULE first = LoadLibraryA("OrvelKernelTestModule.dll");
  ASSERT_NE(first, nullptr) << platform::LastModuleLoadErrorText();
  const int attaches = Call(first, "KernelTestAttaches");
  const int detaches = Call(first, "KernelTestDetaches");
  HMODULE second = LoadLibraryA("libOrvelKernelTestModule.so");
  ASSERT_EQ(second, first);
  EXPECT_EQ(Call(first, "KernelTestAttaches"), attaches + 1);
  EXPECT_TRUE(platform::IsLoadedModule(first));
  ASSERT_TRUE(platform::AddModuleReference(first));
  EXPECT_EQ(Call(first, "KernelTestAttaches"), attaches + 2);

  // The handle is the module's instance handle, as DllMain received it.
  auto instance = reinterpret_cast<HINSTANCE (*)()>(GetProcAddress(first, "KernelTestInstance"));
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance(), first);
  EXPECT_EQ(platform::ModuleOfAddress(reinterpret_cast<void*>(instance)), first);

  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(Call(first, "KernelTestDetaches"), detaches + 2);
  EXPECT_EQ(g_unloaded, nullptr);
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(g_unloaded, first);
  EXPECT_FALSE(platform::IsLoadedModule(first));
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetProcAddress(first, "KernelTestAttaches"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(platform::AddModuleReference(first));

  // The module stays mapped after its last unload; a new load attaches again.
  HMODULE again = LoadLibraryA("OrvelKernelTestModule.dll");
  ASSERT_EQ(again, first);
  EXPECT_EQ(Call(again, "KernelTestAttaches"), attaches + 1 + 2);
  EXPECT_TRUE(FreeLibrary(again));
}

TEST(ModuleLoader, AModuleThatRefusesItsAttachIsNotLoaded) {
  HMODULE module = LoadLibraryA("OrvelKernelTestModule.dll");
  ASSERT_NE(module, nullptr);
  auto refuse = reinterpret_cast<void (*)(int)>(GetProcAddress(module, "KernelTestRefuseAttach"));
  ASSERT_NE(refuse, nullptr);
  const int attaches = Call(module, "KernelTestAttaches");
  const int detaches = Call(module, "KernelTestDetaches");
  refuse(1);
  EXPECT_EQ(LoadLibraryA("OrvelKernelTestModule.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_DLL_INIT_FAILED);
  EXPECT_FALSE(platform::LastModuleLoadErrorText().empty());
  refuse(0);
  EXPECT_EQ(Call(module, "KernelTestAttaches"), attaches);
  EXPECT_EQ(Call(module, "KernelTestDetaches"), detaches);  // no detach for a refused attach
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(platform::IsLoadedModule(module));
}

TEST(ModuleLoader, OnlyTheModulesOwnExportsAreFound) {
  HMODULE module = LoadLibraryA("OrvelKernelTestModule.dll");
  ASSERT_NE(module, nullptr);
  EXPECT_NE(GetProcAddress(module, "KernelTestLastError"), nullptr);
  // The platform's GetLastError is reachable from the module, but is not its export.
  EXPECT_EQ(GetProcAddress(module, "GetLastError"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(1)), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(ModuleLoader, MissingAndBrokenModulesFailToLoad) {
  EXPECT_EQ(LoadLibraryA("NoSuchModule.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  const auto junk =
      std::filesystem::temp_directory_path() / ("libjunk-" + std::to_string(::getpid()) + ".so");
  { std::ofstream(junk) << "not a library"; }
  EXPECT_EQ(LoadLibraryA(junk.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_NE(platform::LastModuleLoadErrorText().find("junk"), std::string::npos);
  std::filesystem::remove(junk);
}

}  // namespace
