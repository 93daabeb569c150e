#include "keyprep_test_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/sha.h>

#include "keyprep/provider_values.h"
#include "platform/provider_registry.h"

namespace keyprep_test {

CertContext::CertContext(const Bytes& der)
    : CCertificateContext(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(),
                                                       static_cast<DWORD>(der.size()))) {}

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

ImportedCertificate::ImportedCertificate(int bits, DWORD flags, int which) {
  EVP_PKEY* key = testpki::Key(bits, which);
  testpki::CertSpec spec(key);
  spec.serial = 100 + bits + which;
  auto cert = testpki::MakeCert(spec);
  Bytes pfx = testpki::MakePfx(testpki::PfxSpec{key, cert.get()});
  CRYPT_DATA_BLOB blob = testpki::BlobOf(pfx);
  m_store.Reset(PFXImportCertStore(&blob, u"secreto", flags));
  if (m_store) m_certificate.Reset(CertEnumCertificatesInStore(m_store.Get(), nullptr));
}

Bytes ImportedCertificate::Der() const {
  return Bytes(m_certificate.Get()->pbCertEncoded,
               m_certificate.Get()->pbCertEncoded + m_certificate.Get()->cbCertEncoded);
}

std::string ImportedCertificate::ContainerName() const {
  std::unique_ptr<BYTE[]> buffer;
  if (!GetCertificateProperty(m_certificate.Get(), CERT_KEY_PROV_INFO_PROP_ID, &buffer, nullptr)) {
    return {};
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.get());
  std::string name;
  for (const char16_t* c = info->pwszContainerName; *c != 0; ++c) {
    name.push_back(static_cast<char>(*c));
  }
  return name;
}

bool SoftwareContainerExists(const std::string& name) {
  CProviderContext provider;
  return CryptAcquireContextA(provider.Receive(), name.c_str(), platform::kSoftwareProviderName,
                              PROV_RSA_FULL, 0) != FALSE;
}

}  // namespace keyprep_test
