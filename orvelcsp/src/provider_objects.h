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
#include "platform/handle_table.h"
#include "platform/provider_crypto.h"

namespace orvelcsp {

struct ProviderContext {
  // Empty for a context without a container (CRYPT_VERIFYCONTEXT), which
  // only hashes.
  std::string containerName;
  ContainerName container;
  std::unique_ptr<CCardSession> session;
  std::vector<BYTE> identifierElement;  // from the private-key record
  WORD roles = 0;                       // from the public-key record's usage
  bool silent = false;                  // CRYPT_SILENT: never ask for the PIN
  std::mutex cardLock;                  // one card command sequence at a time
  // The public key of the certificate bound to the key, read once.
  std::shared_ptr<EVP_PKEY> certificateKey;
};

struct KeyObject {
  std::shared_ptr<ProviderContext> context;  // null for an imported public key
  DWORD keySpec = 0;
  std::shared_ptr<EVP_PKEY> publicKey;  // an imported key's
};

inline constexpr WORD kRoleExchange = 0x4000;
inline constexpr WORD kRoleSignature = 0x2000;

struct HashObject {
  std::shared_ptr<ProviderContext> context;  // whose key signs it
  std::unique_ptr<platform::crypt::CProviderHash> hash;
};

platform::HandleTable<ProviderContext>& Contexts();
platform::HandleTable<KeyObject>& Keys();
platform::HandleTable<HashObject>& Hashes();

}  // namespace orvelcsp
