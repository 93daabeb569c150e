// Certificates and imported keys for the key-preparation tests.
#pragma once

#include <string>
#include <vector>

#include "platform/handle_guards.h"
#include "platform/wincrypt.h"
#include "test_pki.h"

namespace keyprep_test {

using testpki::Bytes;

using testpki::CertContext;

// The DER of a self-signed certificate for a key of that size.
Bytes CertificateDer(int bits, int keyUsage = -1, const EVP_MD* digest = nullptr, int which = 0);

// The big-endian modulus of the certificate's key, as OpenSSL reads it.
Bytes ModulusOf(const Bytes& certificateDer);

// SHA-1 by OpenSSL.
Bytes Sha1(const Bytes& data);

// A PFX holding Key(bits, which) and its certificate (serial 100 + bits +
// which), imported with flags (CRYPT_EXPORTABLE or 0).
class ImportedCertificate : public testpki::ImportedCertificate {
 public:
  ImportedCertificate(int bits, DWORD flags, int which = 0);
};

// Whether the software provider has that key container.
bool SoftwareContainerExists(const std::string& name);

}  // namespace keyprep_test
