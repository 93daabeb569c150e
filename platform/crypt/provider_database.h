// Finding the provider behind a name: the built-in software provider, or a
// provider module named in the user's provider database and loaded on first
// use (modules stay loaded for the life of the process).
#pragma once

#include "platform/provider_module.h"

namespace platform::crypt {

// ERROR_SUCCESS and the provider's operation table, or an NTE_* code:
// NTE_KEYSET_NOT_DEF (unknown name), NTE_PROV_TYPE_NO_MATCH (other type),
// NTE_PROV_DLL_NOT_FOUND (module missing), NTE_PROVIDER_DLL_FAIL (not a
// provider module).
DWORD FindProvider(LPCSTR name, DWORD type, const ORVEL_PROVIDER_FUNCTIONS** functions);

}  // namespace platform::crypt
