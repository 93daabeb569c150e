// Binding a certificate to a key on the card, through the card's provider:
// open the key container, present the PIN, take the key (signature role
// first, then exchange) and hand over the certificate.
#include "keyprep/card_provider.h"
#include "platform/handle_guards.h"

bool AttachCertificateToKey(const char* providerName, const char* containerName,
                            const BYTE* certificate, DWORD certificateLength, const char* pin) {
  if (providerName == nullptr || containerName == nullptr || certificate == nullptr ||
      certificateLength == 0 || pin == nullptr) {
    return false;
  }
  // The provider learns the certificate's length from its encoding alone, so
  // the bytes must be exactly one certificate.
  {
    CCertificateContext decoded(
        CertCreateCertificateContext(X509_ASN_ENCODING, certificate, certificateLength));
    if (decoded.Get() == nullptr) return false;
  }

  CProviderContext provider;
  if (CryptAcquireContextA(provider.Receive(), containerName, providerName, PROV_RSA_FULL, 0) !=
      TRUE) {
    return false;
  }
  if (CryptSetProvParam(provider.Get(), PP_ADMIN_PIN, reinterpret_cast<const BYTE*>(pin), 0) !=
      TRUE) {
    return false;
  }
  CKeyHandle key;
  if (CryptGetUserKey(provider.Get(), AT_SIGNATURE, key.Receive()) != TRUE &&
      CryptGetUserKey(provider.Get(), AT_KEYEXCHANGE, key.Receive()) != TRUE) {
    return false;
  }
  return CryptSetKeyParam(key.Get(), KP_CERTIFICATE, certificate, 0) == TRUE;
}
