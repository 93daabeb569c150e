// Certificate contexts as the platform keeps them: reference counted, with
// their properties, registered so that a freed or forged context pointer is
// refused rather than followed. Certificate stores share the same lock.
#pragma once

#include "cert_decode.h"
#include "platform/wincrypt.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform::crypt {

struct KeyProvInfoValue {
  struct Param {
    DWORD param = 0;
    DWORD flags = 0;
    std::vector<BYTE> data;
  };
  std::u16string container;
  std::u16string provider;
  DWORD provType = 0;
  DWORD flags = 0;
  DWORD keySpec = 0;
  std::vector<Param> params;

  static KeyProvInfoValue From(const CRYPT_KEY_PROV_INFO& info);
  // Size of the self-contained CRYPT_KEY_PROV_INFO, and writing it into a
  // buffer of at least that size (pointers refer into the buffer).
  std::size_t SerializedSize() const;
  void Serialize(BYTE* buffer) const;
};

struct CertContextImpl {
  CERT_CONTEXT pub{};
  std::shared_ptr<DecodedCertificate> decoded;
  std::optional<KeyProvInfoValue> keyProvInfo;
  std::map<DWORD, std::vector<BYTE>> blobProperties;
  HCRYPTPROV cachedProv = 0;  // kept by CRYPT_ACQUIRE_CACHE_FLAG
  long references = 1;
};

// One lock guards every certificate context and every store.
std::mutex& CertificateLock();

// The following require CertificateLock() to be held.
CertContextImpl* FindContextLocked(PCCERT_CONTEXT context);
PCCERT_CONTEXT RegisterContextLocked(std::unique_ptr<CertContextImpl> impl);
// Drops one reference. When the last one goes the context is destroyed and
// its cached provider handle returned, to be released once the lock is left.
HCRYPTPROV ReleaseContextLocked(CertContextImpl* impl);
// A new context for the same certificate with a copy of the properties
// (without the cached provider handle, which stays with the original).
std::unique_ptr<CertContextImpl> CopyContext(const CertContextImpl& source, HCERTSTORE store);
// Identity of two contexts' certificates (byte-equal encodings).
bool SameCertificate(const CertContextImpl& a, const CertContextImpl& b);

}  // namespace platform::crypt
