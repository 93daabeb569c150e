// Persistent key containers of the built-in software provider: one file per
// container in the user's state directory, readable by the user alone. A
// container holds at most one RSA key pair with its key specification and
// whether it may be exported in plain form.
#pragma once

#include "openssl_types.h"
#include "platform/win32.h"

#include <filesystem>
#include <string>

namespace platform::crypt {

struct KeyContainerRecord {
  DWORD keySpec = 0;  // AT_KEYEXCHANGE, AT_SIGNATURE; 0 while there is no key
  bool exportable = false;
  EvpPkeyPtr key;
};

// Every call answers ERROR_SUCCESS or an NTE_* code.
DWORD CreateKeyContainer(const std::string& name, const KeyContainerRecord& record);
DWORD LoadKeyContainer(const std::string& name, KeyContainerRecord& record);
DWORD DeleteKeyContainer(const std::string& name);
bool KeyContainerExists(const std::string& name);

// A fresh container name that no container uses, GUID-like; empty when the
// random generator fails.
std::string NewKeyContainerName();

}  // namespace platform::crypt
