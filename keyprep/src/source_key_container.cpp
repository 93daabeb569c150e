// Deleting the software key container of a certificate once its key is on
// the card, so that no software copy of the key remains.
#include <cstring>
#include <string>

#include "keyprep/key_export.h"
#include "keyprep/provider_values.h"
#include "platform/handle_guards.h"

namespace {

// An ANSI parameter as text, up to its terminator and never past the bytes
// the provider gave.
bool GetProviderText(HCRYPTPROV provider, DWORD param, std::string* text) {
  std::unique_ptr<BYTE[]> buffer;
  DWORD length = 0;
  if (!GetProviderParam(provider, param, &buffer, &length)) return false;
  const char* chars = reinterpret_cast<const char*>(buffer.get());
  text->assign(chars, strnlen(chars, length));
  return !text->empty();
}

}  // namespace

bool DeleteSourceKeyContainer(PCCERT_CONTEXT certificate) {
  if (certificate == nullptr) return false;
  std::string container;
  std::string providerName;
  {
    CProviderContext provider;
    DWORD keySpec = 0;
    if (!provider.AcquireCertificateKey(certificate, CRYPT_ACQUIRE_CACHE_FLAG, &keySpec)) {
      return false;
    }
    if (!GetProviderText(provider.Get(), PP_CONTAINER, &container)) return false;
    if (!GetProviderText(provider.Get(), PP_NAME, &providerName)) return false;
    // Released before the deletion, when it is ours to release.
    if (!provider.Release()) return false;
  }
  // The type is always PROV_RSA_FULL, whatever the source provider's type.
  HCRYPTPROV unused = 0;
  return CryptAcquireContextA(&unused, container.c_str(), providerName.c_str(), PROV_RSA_FULL,
                              CRYPT_DELETEKEYSET) == TRUE;
}
