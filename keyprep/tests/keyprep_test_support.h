// Certificates and imported keys for the key-preparation tests.
#pragma once

#include <string>
#include <vector>

#include "platform/handle_guards.h"
#include "platform/wincrypt.h"
#include "test_pki.h"

namespace keyprep_test {

using testpki::Bytes;

// A certificate context made from DER, freed with the object.
class CertContext : public CCertificateContext {
 public:
  explicit CertContext(const Bytes& der);
  using CCertificateContext::CCertificateContext;
};

// The DER of a self-signed certificate for a key of that size.
Bytes CertificateDer(int bits, int keyUsage = -1, const EVP_MD* digest = nullptr, int which = 0);

// The big-endian modulus of the certificate's key, as OpenSSL reads it.
Bytes ModulusOf(const Bytes& certificateDer);

// SHA-1 by OpenSSL.
Bytes Sha1(const Bytes& data);

// A PFX holding a key of that size and its certificate, imported into a new
// memory store with flags (CRYPT_EXPORTABLE or 0); the first certificate of
// the store, with its key-provider information.
class ImportedCertificate {
 public:
  ImportedCertificate(int bits, DWORD flags, int which = 0);

  PCCERT_CONTEXT Get() const { return m_certificate.Get(); }
  Bytes Der() const;
  // The key container named by the certificate's key-provider information.
  std::string ContainerName() const;

 private:
  CCertStore m_store;
  CCertificateContext m_certificate;
};

// Whether the software provider has that key container.
bool SoftwareContainerExists(const std::string& name);

}  // namespace keyprep_test
