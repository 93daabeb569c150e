// Exporting a certificate's private key in plain form for the card.
#include "keyprep/key_export.h"
#include "platform/handle_guards.h"

bool ExportPrivateKeyBlob(PCCERT_CONTEXT certificate, PrivateKeyBlob* blob) {
  if (certificate == nullptr || blob == nullptr) return false;
  blob->Wipe();

  CProviderContext provider;
  DWORD keySpec = 0;
  if (!provider.AcquireCertificateKey(certificate, CRYPT_ACQUIRE_CACHE_FLAG, &keySpec)) {
    return false;
  }

  CKeyHandle key;
  if (CryptGetUserKey(provider.Get(), keySpec, key.Receive()) != TRUE) return false;

  // A key that is not exportable fails here, and so does one whose blob is
  // larger than a 1024-bit key's.
  DWORD length = PrivateKeyBlob::kSize;
  if (CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, blob->Data(), &length) != TRUE) {
    blob->Wipe();
    return false;
  }
  if (length != PrivateKeyBlob::kSize || blob->BitLength() != PrivateKeyBlob::kBitLength) {
    blob->Wipe();
    return false;
  }
  return true;
}
