// A memory store to fill, and what its certificates' key-provider
// information says.
#pragma once

#include <string>
#include <vector>

#include "platform/handle_guards.h"
#include "platform/wincrypt.h"
#include "support/card_certificates.h"

namespace storeprov_test {

// A certificate of a store with what its key-provider information says.
struct StoredCertificate {
  Bytes der;
  bool hasKeyInfo = false;
  std::u16string container;
  std::u16string provider;
  DWORD provType = 0;
  DWORD keySpec = 0;
};

class MemoryStore {
 public:
  MemoryStore();
  HCERTSTORE Get() const { return m_store.Get(); }
  std::vector<StoredCertificate> Certificates() const;

 private:
  CCertStore m_store;
};

std::u16string Wide(const std::string& text);

}  // namespace storeprov_test
