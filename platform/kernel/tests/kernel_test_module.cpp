// A module for the loader tests: it counts its attaches and detaches, can be
// told to refuse its attach, and exports one value of its own.
#include "platform/win32.h"

#define KERNEL_TEST_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int g_attaches = 0;
int g_detaches = 0;
bool g_refuse = false;
HINSTANCE g_instance = nullptr;
}  // namespace

KERNEL_TEST_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reserved != nullptr) return FALSE;
  if (reason == DLL_PROCESS_ATTACH) {
    if (g_refuse) return FALSE;
    g_instance = instance;
    ++g_attaches;
  } else if (reason == DLL_PROCESS_DETACH) {
    ++g_detaches;
  }
  return TRUE;
}

KERNEL_TEST_EXPORT int KernelTestAttaches(void) { return g_attaches; }
KERNEL_TEST_EXPORT int KernelTestDetaches(void) { return g_detaches; }
KERNEL_TEST_EXPORT HINSTANCE KernelTestInstance(void) { return g_instance; }
KERNEL_TEST_EXPORT void KernelTestRefuseAttach(int refuse) { g_refuse = refuse != 0; }
// Uses a function of the platform, so that the module depends on it.
KERNEL_TEST_EXPORT DWORD KernelTestLastError(void) { return GetLastError(); }
