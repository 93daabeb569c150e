// Printing the certificates of a store, as the platform's tools show them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/handle_guards.h"
#include "platform/wincrypt.h"

namespace tool {

// Prints every certificate of the store (subject, thumbprint, key-provider
// information) and a closing count; returns the number listed.
int PrintStore(HCERTSTORE store, const std::string& name);

// The certificate's subject, most specific part first ("CN=..., O=..., C=...").
std::string SubjectText(PCCERT_CONTEXT certificate);

// The UTF-16 form of a store name given on the command line.
std::u16string WideName(const std::string& name);

// An error code as the tool prints it (0x%08lX).
unsigned long Code(DWORD error);

// The current user's system store of that name; null with a message that
// starts with command.
HCERTSTORE OpenSystemStore(const char* command, const std::string& name);

// The whole content of a file; nothing when it cannot be read.
std::optional<std::vector<BYTE>> ReadFileBytes(const std::string& path);

}  // namespace tool
