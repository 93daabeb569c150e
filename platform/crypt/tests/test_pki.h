// Test material made with OpenSSL on the spot: RSA keys, certificates with a
// chosen signature digest and key usage, PKCS#12 files with legacy or AES
// protection and their certificates imported, and a private per-user state
// directory for every test.
#pragma once

#include <openssl/rsa.h>

#include "openssl_types.h"
#include "platform/handle_guards.h"
#include "platform/wincrypt.h"
#include "platform_test/scoped_user_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testpki {

using Bytes = std::vector<unsigned char>;
using platform::crypt::EvpPkeyPtr;
using platform::crypt::X509Ptr;

// One key per size for the whole test program (generation is slow).
EVP_PKEY* Key(int bits, int which = 0);

struct CertSpec {
  explicit CertSpec(EVP_PKEY* subject, EVP_PKEY* issuer = nullptr)
      : key(subject), issuerKey(issuer) {}
  EVP_PKEY* key = nullptr;         // subject key
  EVP_PKEY* issuerKey = nullptr;   // null: self-signed
  const EVP_MD* digest = nullptr;  // null: SHA-1
  std::optional<int> keyUsage;     // first byte of the key-usage bits
  std::string commonName = "Prueba";
  long serial = 1;
  bool ca = false;
};
X509Ptr MakeCert(const CertSpec& spec);
Bytes Der(X509* cert);

enum class Protection { kLegacy, kAes256 };
struct PfxSpec {
  PfxSpec(EVP_PKEY* k, X509* c, std::vector<X509*> ch = {})
      : key(k), cert(c), chain(std::move(ch)) {}
  EVP_PKEY* key = nullptr;  // null: certificates only
  X509* cert = nullptr;     // the key's certificate
  std::vector<X509*> chain;
  const char* password = "secreto";
  Protection protection = Protection::kLegacy;
  int iterations = 2048;
  int macIterations = 2048;  // -1: no MAC
};
Bytes MakePfx(const PfxSpec& spec);

// OpenSSL's own PKCS#1 v1.5 results, big-endian: the signature of data with
// digest (null: data signed as it is, no DigestInfo), and a cryptogram as
// `openssl pkeyutl -encrypt` makes it (with RSA_NO_PADDING: of the bare block).
Bytes OpenSslSign(EVP_PKEY* key, const EVP_MD* digest, const Bytes& data);
Bytes OpenSslEncrypt(EVP_PKEY* key, const Bytes& plaintext, int padding = RSA_PKCS1_PADDING);
Bytes Reversed(const Bytes& bytes);

std::u16string Wide(const std::string& ascii);
CRYPT_DATA_BLOB BlobOf(Bytes& bytes);
// A DWORD parameter of a key (KP_KEYLEN, KP_ALGID); none when it is refused.
std::optional<DWORD> KeyParam(HCRYPTKEY key, DWORD param);

// Sets ORVEL_USER_DIR to a fresh directory for the test and removes it after;
// ORVEL_SYSTEM_DIR to SystemDir() in it, absent until a test makes it.
class UserDirTest : public ::testing::Test {
 protected:
  void SetUp() override { m_dir = m_userDir.emplace().Path(); }
  void TearDown() override { m_userDir.reset(); }
  std::optional<platform_test::ScopedUserDir> m_userDir;
  std::filesystem::path SystemDir() const { return m_userDir->SystemDir(); }
  std::filesystem::path m_dir;
};

// The encoding the tests' certificates are given and read with.
inline constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A certificate context made from DER, freed with the object.
class CertContext : public CCertificateContext {
 public:
  explicit CertContext(const Bytes& der, DWORD encoding = kEncoding)
      : CCertificateContext(
            CertCreateCertificateContext(encoding, der.data(), static_cast<DWORD>(der.size()))) {}
};

// A PKCS#12 file (password "secreto") imported into a new memory store with
// flags (CRYPT_EXPORTABLE or 0): the store's first certificate, with its
// key-provider information, freed with the store when the object goes.
class ImportedCertificate : private NonCopyable {
 public:
  ImportedCertificate(Bytes pfx, DWORD flags);
  // The file of spec's key and the certificate made from spec.
  ImportedCertificate(const CertSpec& spec, DWORD flags);
  ~ImportedCertificate() { Close(); }

  PCCERT_CONTEXT Get() const { return m_certificate.Get(); }
  Bytes Der() const;
  // The key container and its provider that the key-provider information
  // names ("" without it), and whether that container opens.
  std::string ContainerName() const { return KeyProviderName(false); }
  std::string ProviderName() const { return KeyProviderName(true); }
  bool KeyContainerExists() const;
  // Frees the certificate and closes the store now; CertCloseStore's result
  // (TRUE when already closed).
  BOOL Close();

 private:
  std::string KeyProviderName(bool provider) const;

  HCERTSTORE m_store = nullptr;  // bare, for Close to give the result
  CCertificateContext m_certificate;
};

// A certificate of Key(1024) imported with the flags given in a private user
// directory, released before the directory goes.
class ImportedPfxTest : public UserDirTest {
 protected:
  explicit ImportedPfxTest(DWORD importFlags = 0) : m_importFlags(importFlags) {}
  void SetUp() override;
  void TearDown() override;
  PCCERT_CONTEXT Cert() const { return m_imported->Get(); }
  std::optional<ImportedCertificate> m_imported;

 private:
  DWORD m_importFlags;
};

// Directory of the running test program (modules and helpers are built there).
std::filesystem::path ProgramDir();

}  // namespace testpki
