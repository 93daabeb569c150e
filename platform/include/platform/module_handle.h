// Instance handles of loaded modules. A module's handle is the address at
// which it is mapped (the main program or a shared library); resources
// compiled into a module are registered and found under that handle.
#pragma once

#include "platform/win32.h"

namespace platform {

// Handle of the module whose mapping contains address; nullptr when the
// address lies in no loaded module.
HINSTANCE ModuleOfAddress(const void* address);

// Handle of the main program.
HINSTANCE ProgramModule();

}  // namespace platform

extern "C" {
// NULL names the main program; otherwise a shared library already loaded
// into the process, by the name it was loaded with. NULL with
// ERROR_MOD_NOT_FOUND when there is none.
HMODULE GetModuleHandleA(LPCSTR moduleName);
}
