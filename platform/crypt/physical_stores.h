// Registered physical stores of the current user's system stores, kept in
// UserStateDir()/physical_stores.json, by system store:
//   {"MY": [{"name": "Tarjeta Orvel", "openStoreProvider": "OrvelCertStore",
//            "openEncodingType": 0, "openFlags": 0, "openParameters": "",
//            "flags": 1, "priority": 0}]}
// System store names are kept in upper case (names differing in ASCII case
// are one store); physical store names keep their case and are compared
// without regard to ASCII case.
#pragma once

#include "platform/wincrypt.h"

#include <optional>
#include <string>
#include <vector>

namespace platform::crypt {

struct PhysicalStoreRecord {
  std::string name;  // UTF-8
  std::string openStoreProvider;
  DWORD openEncodingType = 0;
  DWORD openFlags = 0;
  std::vector<BYTE> openParameters;
  DWORD flags = 0;
  DWORD priority = 0;
};

// The key under which a system store's state is kept: its name in upper
// case. Nothing for names that cannot name a store (empty, path separators,
// "." or "..", over 255 bytes, invalid UTF-16).
std::optional<std::string> SystemStoreKey(const std::string& name);
std::optional<std::string> SystemStoreKey(LPCWSTR name);

// The physical stores registered in a system store, highest priority first,
// in order of registration within one priority.
DWORD ListPhysicalStores(const std::string& systemStoreKey, std::vector<PhysicalStoreRecord>& out);

// ERROR_SUCCESS when the location bits of the flags name the current user
// (or no location), ERROR_NOT_SUPPORTED otherwise.
DWORD CheckCurrentUserLocation(DWORD flags);

}  // namespace platform::crypt
