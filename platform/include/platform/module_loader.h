// Loading modules (shared libraries) by the platform: LoadLibraryA,
// FreeLibrary and GetProcAddress.
//
// A module name is a file name or a path. A bare name is looked up in the
// directories of ORVEL_MODULE_PATH (colon-separated, searched first), then
// beside the running program, then beside the platform's own libraries. A
// name given in the platform's form "Name.dll" reaches the shared library
// built from it: "libName.so", then "Name.so", then the name itself.
//
// Every LoadLibraryA calls the module's DllMain(module, DLL_PROCESS_ATTACH,
// NULL) and every FreeLibrary calls DllMain(module, DLL_PROCESS_DETACH,
// NULL), so a module sees as many attaches as it has loads. A module whose
// attach returns FALSE is not loaded (ERROR_DLL_INIT_FAILED) and gets no
// detach for that attach. Modules stay mapped once loaded, also after their
// last FreeLibrary: code of theirs may still be running on threads of their
// own, as a module is allowed to stop them without waiting for them. Modules
// still loaded when the process ends get no detach; their static
// destructors run as the process ends.
//
// Modules are opened with their symbols kept to themselves (RTLD_LOCAL) and
// bound at once (RTLD_NOW): what a module leaves undefined (the platform's
// functions, PC/SC) is found in the program and the libraries it was
// started with, so a program that links the tests' PC/SC library hands
// that to every module it loads. A module that cannot be bound fails to load.
#pragma once

#include "platform/win32.h"

#include <filesystem>
#include <optional>
#include <string>

// The address of an export, to be cast to the export's own type. A function
// type without parameters or result, so that such casts are clean.
typedef void (*FARPROC)(void);

namespace platform {

// The file a module name reaches, or nothing.
std::optional<std::filesystem::path> FindModuleFile(const std::string& name);

// Whether the handle is that of a module loaded by LoadLibraryA and not yet
// freed as often as it was loaded.
bool IsLoadedModule(HMODULE module);

// Loads such a module once more by its handle (with its attach), as
// LoadLibraryA would. False, with the last error set, when it is not loaded
// or its attach fails.
bool AddModuleReference(HMODULE module);

// Called after the last FreeLibrary of a module (the detach has run).
using ModuleUnloadedCallback = void (*)(HMODULE module);
void AddModuleUnloadedCallback(ModuleUnloadedCallback callback);

// The loader's message for the last LoadLibraryA of this thread that failed
// (missing file, unresolved symbols...); empty when there is none.
std::string LastModuleLoadErrorText();

}  // namespace platform

extern "C" {

// The module's instance handle (its load address), or NULL with
// ERROR_MOD_NOT_FOUND (no such file, or not a loadable module) or
// ERROR_DLL_INIT_FAILED (its DllMain refused the attach).
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// ERROR_INVALID_HANDLE for a handle that LoadLibraryA did not give or that
// has been freed as often as it was loaded.
BOOL FreeLibrary(HMODULE hLibModule);
// An exported function of a module loaded by LoadLibraryA; NULL with
// ERROR_PROC_NOT_FOUND or ERROR_INVALID_HANDLE. Ordinals are not supported.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

}  // extern "C"
