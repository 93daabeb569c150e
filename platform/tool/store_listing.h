// Printing the certificates of a store, as the platform's tools show them.
#pragma once

#include <string>

#include "platform/wincrypt.h"

namespace tool {

// Prints every certificate of the store (subject, thumbprint, key-provider
// information) and a closing count; returns the number listed.
int PrintStore(HCERTSTORE store, const std::string& name);

// The certificate's subject, most specific part first ("CN=..., O=..., C=...").
std::string SubjectText(PCCERT_CONTEXT certificate);

// The UTF-16 form of a store name given on the command line.
std::u16string WideName(const std::string& name);

}  // namespace tool
