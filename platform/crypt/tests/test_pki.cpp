#include "test_pki.h"

#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdlib>
#include <map>
#include <mutex>

namespace testpki {

EVP_PKEY* Key(int bits, int which) {
  static std::mutex lock;
  static std::map<std::pair<int, int>, EvpPkeyPtr> keys;
  std::lock_guard guard(lock);
  auto& slot = keys[{bits, which}];
  if (!slot) slot.reset(EVP_RSA_gen(static_cast<unsigned>(bits)));
  return slot.get();
}

X509Ptr MakeCert(const CertSpec& spec) {
  X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), spec.serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(spec.commonName.c_str()), -1,
                             -1, 0);
  X509_set_issuer_name(cert.get(), name);
  X509_set_pubkey(cert.get(), spec.key);
  auto addExt = [&](int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert.get(), cert.get(), nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    ASSERT_NE(ext, nullptr);
    X509_add_ext(cert.get(), ext, -1);
    X509_EXTENSION_free(ext);
  };
  if (spec.ca) addExt(NID_basic_constraints, "critical,CA:TRUE");
  if (spec.keyUsage) {
    static const char* names[8] = {"digitalSignature", "nonRepudiation", "keyEncipherment",
                                   "dataEncipherment", "keyAgreement",   "keyCertSign",
                                   "cRLSign",          "encipherOnly"};
    std::string value = "critical";
    for (int bit = 0; bit < 8; ++bit)
      if (*spec.keyUsage & (0x80 >> bit)) value += std::string(",") + names[bit];
    addExt(NID_key_usage, value.c_str());
  }
  const EVP_MD* md = spec.digest ? spec.digest : EVP_sha1();
  EXPECT_GT(X509_sign(cert.get(), spec.issuerKey ? spec.issuerKey : spec.key, md), 0);
  return cert;
}

Bytes Der(X509* cert) {
  int length = i2d_X509(cert, nullptr);
  Bytes out(static_cast<std::size_t>(length));
  unsigned char* p = out.data();
  i2d_X509(cert, &p);
  return out;
}

namespace {

// OpenSSL's private (sign) or public (encrypt) operation on input.
Bytes RsaOperate(EVP_PKEY* key, decltype(&EVP_PKEY_sign_init) init,
                 decltype(&EVP_PKEY_sign) operation, int padding, const EVP_MD* digest,
                 const Bytes& input) {
  platform::crypt::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  init(ctx.get());
  EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding);
  if (digest) EVP_PKEY_CTX_set_signature_md(ctx.get(), digest);
  Bytes output(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
  std::size_t length = output.size();
  if (operation(ctx.get(), output.data(), &length, input.data(), input.size()) != 1) {
    ADD_FAILURE() << "OpenSSL refused the RSA operation";
  }
  output.resize(length);
  return output;
}

}  // namespace

Bytes OpenSslSign(EVP_PKEY* key, const EVP_MD* digest, const Bytes& data) {
  Bytes input = data;
  if (digest) {
    input.resize(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    EVP_Digest(data.data(), data.size(), input.data(), &size, digest, nullptr);
    input.resize(size);
  }
  return RsaOperate(key, EVP_PKEY_sign_init, EVP_PKEY_sign, RSA_PKCS1_PADDING, digest, input);
}

Bytes OpenSslEncrypt(EVP_PKEY* key, const Bytes& plaintext, int padding) {
  return RsaOperate(key, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, padding, nullptr, plaintext);
}

Bytes Reversed(const Bytes& bytes) { return Bytes(bytes.rbegin(), bytes.rend()); }

Bytes MakePfx(const PfxSpec& spec) {
  platform::crypt::EnsureOpenSslProviders();
  STACK_OF(X509)* chain = sk_X509_new_null();
  for (X509* c : spec.chain) sk_X509_push(chain, c);
  int keyNid = spec.protection == Protection::kLegacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC
                                                      : NID_aes_256_cbc;
  int certNid =
      spec.protection == Protection::kLegacy ? NID_pbe_WithSHA1And40BitRC2_CBC : NID_aes_256_cbc;
  PKCS12* p12 = PKCS12_create(spec.password, "Prueba", spec.key, spec.cert, chain, keyNid, certNid,
                              spec.iterations, spec.macIterations, 0);
  sk_X509_free(chain);
  EXPECT_NE(p12, nullptr);
  if (!p12) return {};
  if (spec.protection == Protection::kAes256 && spec.macIterations != -1) {
    // Modern files carry a SHA-256 MAC as well.
    EXPECT_EQ(PKCS12_set_mac(p12, spec.password, -1, nullptr, 0, spec.macIterations, EVP_sha256()),
              1);
  }
  int length = i2d_PKCS12(p12, nullptr);
  Bytes out(static_cast<std::size_t>(length));
  unsigned char* p = out.data();
  i2d_PKCS12(p12, &p);
  PKCS12_free(p12);
  return out;
}

std::u16string Wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

CRYPT_DATA_BLOB BlobOf(Bytes& bytes) { return {static_cast<DWORD>(bytes.size()), bytes.data()}; }

std::optional<DWORD> KeyParam(HCRYPTKEY key, DWORD param) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (!CryptGetKeyParam(key, param, reinterpret_cast<BYTE*>(&value), &size, 0)) return {};
  return value;
}

ImportedCertificate::ImportedCertificate(Bytes pfx, DWORD flags) {
  CRYPT_DATA_BLOB blob = BlobOf(pfx);
  m_store = PFXImportCertStore(&blob, u"secreto", flags);
  if (m_store) m_certificate.Reset(CertEnumCertificatesInStore(m_store, nullptr));
}

ImportedCertificate::ImportedCertificate(const CertSpec& spec, DWORD flags)
    : ImportedCertificate(MakePfx(PfxSpec{spec.key, MakeCert(spec).get()}), flags) {}

Bytes ImportedCertificate::Der() const {
  const PCCERT_CONTEXT c = m_certificate.Get();
  return Bytes(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
}

std::string ImportedCertificate::KeyProviderName(bool provider) const {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(Get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
    return {};
  }
  std::vector<std::max_align_t> buffer(size / sizeof(std::max_align_t) + 1);
  if (!CertGetCertificateContextProperty(Get(), CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) {
    return {};
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  std::string name;
  for (const char16_t* c = provider ? info->pwszProvName : info->pwszContainerName; *c; ++c) {
    name.push_back(static_cast<char>(*c));
  }
  return name;
}

bool ImportedCertificate::KeyContainerExists() const {
  const std::string container = ContainerName();
  CProviderContext context;
  return !container.empty() && CryptAcquireContextA(context.Receive(), container.c_str(),
                                                    ProviderName().c_str(), PROV_RSA_FULL, 0);
}

BOOL ImportedCertificate::Close() {
  m_certificate.Reset();
  const BOOL closed = m_store == nullptr || CertCloseStore(m_store, 0);
  m_store = nullptr;
  return closed;
}

void ImportedPfxTest::SetUp() {
  UserDirTest::SetUp();
  m_imported.emplace(CertSpec{Key(1024)}, m_importFlags);
  ASSERT_NE(m_imported->Get(), nullptr);
}

void ImportedPfxTest::TearDown() {
  m_imported.reset();
  UserDirTest::TearDown();
}

std::filesystem::path ProgramDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

}  // namespace testpki
