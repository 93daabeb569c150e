#include "platform/module_handle.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/auxv.h>

namespace platform {

HINSTANCE ModuleOfAddress(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.dli_fbase);
}

HINSTANCE ProgramModule() {
  // The program headers of the main program lie inside its first mapping.
  const auto phdr = getauxval(AT_PHDR);
  return ModuleOfAddress(reinterpret_cast<const void*>(phdr));
}

}  // namespace platform

extern "C" HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return platform::ProgramModule();
  void* handle = dlopen(moduleName, RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  HMODULE module = nullptr;
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
    // A shared library's first segment starts at its load address.
    module = reinterpret_cast<HMODULE>(map->l_addr);
  }
  dlclose(handle);
  if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return module;
}
