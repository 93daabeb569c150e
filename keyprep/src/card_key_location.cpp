// Whether a certificate's key is one of the card's.
#include <cstring>
#include <memory>
#include <string_view>

#include "keyprep/card_provider.h"
#include "keyprep/provider_values.h"

bool KeyLivesOnCard(PCCERT_CONTEXT certificate) {
  std::unique_ptr<BYTE[]> buffer;
  DWORD length = 0;
  if (!GetCertificateProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, &buffer, &length)) {
    return false;
  }
  if (length < sizeof(CRYPT_KEY_PROV_INFO)) return false;
  // The property's bytes carry no alignment: the record is copied out.
  CRYPT_KEY_PROV_INFO info;
  std::memcpy(&info, buffer.get(), sizeof info);
  if (info.pwszProvName == nullptr) return false;
  return std::u16string_view(info.pwszProvName) == std::u16string_view(kCardProviderNameW);
}
