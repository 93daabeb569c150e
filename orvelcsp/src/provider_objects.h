// The objects behind the module's handles: provider contexts (with the card
// session of their key container), keys and hashes.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "card_session.h"
#include "container_name.h"
#include "handle_table.h"
#include "provider_crypto.h"

namespace orvelcsp {

struct ProviderContext {
  // Empty for a context without a container (CRYPT_VERIFYCONTEXT), which
  // only hashes.
  std::string containerName;
  ContainerName container;
  std::unique_ptr<CCardSession> session;
  std::vector<BYTE> identifierElement;  // from the private-key record
  WORD roles = 0;                       // from the public-key record's usage
  std::mutex cardLock;                  // one card command sequence at a time
};

struct KeyObject {
  std::shared_ptr<ProviderContext> context;
  DWORD keySpec = 0;
};

struct HashObject {
  std::shared_ptr<ProviderContext> context;  // whose key signs it
  std::unique_ptr<platform::crypt::CProviderHash> hash;
};

platform::crypt::HandleTable<ProviderContext>& Contexts();
platform::crypt::HandleTable<KeyObject>& Keys();
platform::crypt::HandleTable<HashObject>& Hashes();

}  // namespace orvelcsp
