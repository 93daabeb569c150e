// The key identifier, computed by the card's provider without a card: an
// installation without that provider cannot prepare any key.
#include "keyprep/key_identifier.h"

#include <new>
#include <vector>

#include "common/reverse_bytes.h"
#include "keyprep/card_provider.h"
#include "platform/handle_guards.h"

bool ComputeKeyIdentifier(const BYTE* modulus, DWORD length, KeyIdentifier* identifier) {
  if (modulus == nullptr || length == 0 || identifier == nullptr) return false;

  // The card and the certificate hold the modulus big-endian.
  std::vector<BYTE> bigEndian;
  try {
    bigEndian.resize(length);
  } catch (const std::bad_alloc&) {
    return false;
  }
  ReverseBytes(bigEndian.data(), modulus, length);

  CProviderContext provider;
  if (CryptAcquireContextA(provider.Receive(), nullptr, kCardProviderName, PROV_RSA_FULL,
                           CRYPT_VERIFYCONTEXT) != TRUE) {
    return false;
  }
  CHashHandle hash;
  if (CryptCreateHash(provider.Get(), CALG_SHA1, 0, 0, hash.Receive()) != TRUE) return false;
  if (CryptHashData(hash.Get(), bigEndian.data(), length, 0) != TRUE) return false;
  KeyIdentifier digest{};
  DWORD digestLength = static_cast<DWORD>(digest.size());
  if (CryptGetHashParam(hash.Get(), HP_HASHVAL, digest.data(), &digestLength, 0) != TRUE) {
    return false;
  }
  if (digestLength != kKeyIdentifierSize) return false;
  *identifier = digest;
  return true;
}
