// The instance handle of the module (program or shared library) this code
// was linked into. String-table entries and dialog templates are loaded
// through it. The store provider sets it at every process attach, the wizard
// at start-up.
//
// Every module gets its own copy: the symbol is hidden, so a program that
// loads the store provider never shares its value with the provider.
#pragma once

#include "platform/win32.h"

extern HINSTANCE ModuleInstance __attribute__((visibility("hidden")));
