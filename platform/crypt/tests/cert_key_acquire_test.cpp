// CryptAcquireCertificatePrivateKey: who releases the provider, the cache
// kept with the certificate, and the sequence that deletes a source key
// container after an import.
#include "platform/provider_registry.h"
#include "test_pki.h"

#include <cstring>

using namespace testpki;

namespace {

class AcquireTest : public UserDirTest {
 protected:
  void SetUp() override {
    UserDirTest::SetUp();
    X509Ptr cert = MakeCert(CertSpec{Key(1024)});
    Bytes pfx = MakePfx(PfxSpec{Key(1024), cert.get()});
    CRYPT_DATA_BLOB blob = BlobOf(pfx);
    m_store = PFXImportCertStore(&blob, u"secreto", CRYPT_EXPORTABLE);
    ASSERT_NE(m_store, nullptr);
    m_cert = CertEnumCertificatesInStore(m_store, nullptr);
    ASSERT_NE(m_cert, nullptr);
  }
  void TearDown() override {
    CertFreeCertificateContext(m_cert);
    CertCloseStore(m_store, 0);
    UserDirTest::TearDown();
  }
  std::string Param(HCRYPTPROV prov, DWORD param) {
    DWORD size = 0;
    if (!CryptGetProvParam(prov, param, nullptr, &size, 0)) return "<error>";
    std::string text(size, '\0');
    CryptGetProvParam(prov, param, reinterpret_cast<BYTE*>(text.data()), &size, 0);
    return text.c_str();
  }
  HCERTSTORE m_store = nullptr;
  PCCERT_CONTEXT m_cert = nullptr;
};

}  // namespace

TEST_F(AcquireTest, CachedHandleStaysWithTheCertificate) {
  HCRYPTPROV first = 0, second = 0;
  DWORD spec = 0;
  BOOL callerFrees = TRUE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &first,
                                                &spec, &callerFrees));
  EXPECT_FALSE(callerFrees);
  EXPECT_EQ(spec, AT_KEYEXCHANGE);
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &second,
                                                &spec, &callerFrees));
  EXPECT_EQ(first, second);
  EXPECT_FALSE(callerFrees);
  // Even without the flag the cached handle is the one handed out.
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, 0, nullptr, &second, &spec, &callerFrees));
  EXPECT_EQ(first, second);
  EXPECT_FALSE(callerFrees);

  // The context goes with the last reference: here the store's and ours.
  CertFreeCertificateContext(m_cert);
  m_cert = nullptr;
  EXPECT_TRUE(CertCloseStore(m_store, 0));
  m_store = nullptr;
  SetLastError(0);
  EXPECT_FALSE(CryptReleaseContext(first, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
}

TEST_F(AcquireTest, WithoutTheCacheTheCallerReleases) {
  HCRYPTPROV a = 0, b = 0;
  DWORD spec = 0;
  BOOL callerFrees = FALSE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, 0, nullptr, &a, &spec, &callerFrees));
  EXPECT_TRUE(callerFrees);
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, 0, nullptr, &b, &spec, &callerFrees));
  EXPECT_NE(a, b);
  EXPECT_TRUE(CryptReleaseContext(a, 0));
  EXPECT_TRUE(CryptReleaseContext(b, 0));
}

TEST_F(AcquireTest, DeletingTheSourceContainer) {
  HCRYPTPROV prov = 0;
  DWORD spec = 0;
  BOOL callerFrees = TRUE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &prov,
                                                &spec, &callerFrees));
  std::string container = Param(prov, PP_CONTAINER);
  std::string provider = Param(prov, PP_NAME);
  EXPECT_EQ(provider, platform::kSoftwareProviderName);
  EXPECT_EQ(container.size(), 36u);
  HCRYPTPROV ignored = 0;
  ASSERT_TRUE(CryptAcquireContextA(&ignored, container.c_str(), provider.c_str(), PROV_RSA_FULL,
                                   CRYPT_DELETEKEYSET));

  // A fresh copy of the certificate finds no key any more, and a second
  // deletion fails without changing anything.
  PCCERT_CONTEXT copy =
      CertCreateCertificateContext(X509_ASN_ENCODING, m_cert->pbCertEncoded, m_cert->cbCertEncoded);
  DWORD size = 0;
  ASSERT_TRUE(
      CertGetCertificateContextProperty(m_cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  std::vector<std::max_align_t> info(size / sizeof(std::max_align_t) + 1);
  ASSERT_TRUE(
      CertGetCertificateContextProperty(m_cert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size));
  ASSERT_TRUE(CertSetCertificateContextProperty(copy, CERT_KEY_PROV_INFO_PROP_ID, 0, info.data()));
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(copy, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &prov,
                                                 &spec, &callerFrees));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  EXPECT_FALSE(CryptAcquireContextA(&ignored, container.c_str(), provider.c_str(), PROV_RSA_FULL,
                                    CRYPT_DELETEKEYSET));
  CertFreeCertificateContext(copy);
}

TEST_F(AcquireTest, CertificateWithoutKeyInformation) {
  PCCERT_CONTEXT bare =
      CertCreateCertificateContext(X509_ASN_ENCODING, m_cert->pbCertEncoded, m_cert->cbCertEncoded);
  HCRYPTPROV prov = 0;
  DWORD spec = 0;
  BOOL callerFrees = FALSE;
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(bare, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &prov,
                                                 &spec, &callerFrees));
  EXPECT_EQ(GetLastError(), CRYPT_E_NO_KEY_PROPERTY);
  EXPECT_EQ(prov, 0u);
  CertFreeCertificateContext(bare);
  SetLastError(0);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(bare, 0, nullptr, &prov, &spec, &callerFrees));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(nullptr, 0, nullptr, &prov, &spec, &callerFrees));
}

TEST_F(AcquireTest, NewKeyInformationDropsTheCachedHandle) {
  HCRYPTPROV cached = 0;
  DWORD spec = 0;
  BOOL callerFrees = TRUE;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, CRYPT_ACQUIRE_CACHE_FLAG, nullptr, &cached,
                                                &spec, &callerFrees));
  ASSERT_TRUE(platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "liborvel_test_provider.so"));
  std::u16string container = u"card-0123456789AB200021\\3F11\\3F77\\", provider = u"OrvelCSP";
  CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), PROV_RSA_FULL, 0, 0,
                           nullptr,          AT_SIGNATURE};
  ASSERT_TRUE(CertSetCertificateContextProperty(m_cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  EXPECT_FALSE(CryptReleaseContext(cached, 0));  // released with the old information

  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireCertificatePrivateKey(m_cert, 0, nullptr, &prov, &spec, &callerFrees));
  EXPECT_EQ(spec, AT_SIGNATURE);
  EXPECT_TRUE(callerFrees);
  EXPECT_EQ(Param(prov, PP_NAME), "TestCSP");
  HCRYPTKEY key = 0;
  EXPECT_TRUE(CryptGetUserKey(prov, spec, &key));
  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
}
