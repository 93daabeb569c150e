#include "keyprep_test_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/sha.h>

#include "platform/provider_registry.h"

namespace keyprep_test {

Bytes CertificateDer(int bits, int keyUsage, const EVP_MD* digest, int which) {
  testpki::CertSpec spec(testpki::Key(bits, which));
  spec.digest = digest;
  if (keyUsage >= 0) spec.keyUsage = keyUsage;
  auto cert = testpki::MakeCert(spec);
  return testpki::Der(cert.get());
}

Bytes ModulusOf(const Bytes& certificateDer) {
  const unsigned char* p = certificateDer.data();
  testpki::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificateDer.size())));
  if (!cert) return {};
  EVP_PKEY* key = X509_get0_pubkey(cert.get());
  BIGNUM* n = nullptr;
  if (key == nullptr || EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) != 1) return {};
  Bytes modulus(static_cast<std::size_t>(BN_num_bytes(n)));
  BN_bn2bin(n, modulus.data());
  BN_free(n);
  return modulus;
}

Bytes Sha1(const Bytes& data) {
  Bytes digest(SHA_DIGEST_LENGTH);
  SHA1(data.data(), data.size(), digest.data());
  return digest;
}

namespace {

testpki::CertSpec ImportSpec(int bits, int which) {
  testpki::CertSpec spec(testpki::Key(bits, which));
  spec.serial = 100 + bits + which;
  return spec;
}

}  // namespace

ImportedCertificate::ImportedCertificate(int bits, DWORD flags, int which)
    : testpki::ImportedCertificate(ImportSpec(bits, which), flags) {}

bool SoftwareContainerExists(const std::string& name) {
  CProviderContext provider;
  return CryptAcquireContextA(provider.Receive(), name.c_str(), platform::kSoftwareProviderName,
                              PROV_RSA_FULL, 0) != FALSE;
}

}  // namespace keyprep_test
