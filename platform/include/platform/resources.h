// Resources compiled into a module and addressed by number through the
// module's instance handle (see module_handle.h). Each module registers its
// tables once, from a static object in the module itself, and the platform
// finds them again under the module's handle:
//
//   const platform::StringResource kStrings[] = {{1, "..."}, {2, "..."}};
//   const platform::StringTableRegistration kRegistration(kStrings);
//
// Texts are in the ANSI code page of this platform, UTF-8.
#pragma once

#include <span>

#include "platform/module_resource_registry.h"
#include "platform/win32.h"

namespace platform {

struct StringResource {
  UINT id;
  const char* text;
};

// The string tables of the loaded modules.
ModuleResourceRegistry<StringResource>& StringTables();

// Registers the string table of the module holding the entries (the module
// is found from their address) for the lifetime of the object. The entries
// must outlive it; a static array beside the registration does.
using StringTableRegistration = ModuleResourceRegistration<StringResource, StringTables>;

// The text of a string-table entry of a module, or nullptr when the module
// has no such entry.
const char* FindStringResource(HINSTANCE module, UINT id);

}  // namespace platform

extern "C" {
// Copies entry id of the module's string table into buffer, at most
// bufferMax - 1 bytes and a terminator, never cutting a UTF-8 character in
// two. Returns the number of bytes copied without the terminator; 0 (and an
// empty buffer when one is given) when the entry is missing.
int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferMax);
}
