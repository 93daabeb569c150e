// Owning pointers for the OpenSSL objects this library handles, and the one
// place where OpenSSL's providers are loaded.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>

namespace platform::crypt {

template <class T, void (*Free)(T*)>
struct OsslDeleter {
  void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using OsslPtr = std::unique_ptr<T, OsslDeleter<T, Free>>;

using BioPtr = OsslPtr<BIO, BIO_free_all>;
using EvpPkeyPtr = OsslPtr<EVP_PKEY, EVP_PKEY_free>;
using EvpMdCtxPtr = OsslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using EvpPkeyCtxPtr = OsslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using X509Ptr = OsslPtr<X509, X509_free>;
using Pkcs12Ptr = OsslPtr<PKCS12, PKCS12_free>;
using Pkcs8Ptr = OsslPtr<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>;
using PubkeyPtr = OsslPtr<X509_PUBKEY, X509_PUBKEY_free>;
using AsnObjectPtr = OsslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;

// Loads the default and the legacy providers once per process; files
// exported by other systems are often protected with RC2 or 3DES, which only
// the legacy provider offers.
void EnsureOpenSslProviders();

}  // namespace platform::crypt
