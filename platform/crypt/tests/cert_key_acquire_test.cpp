// CryptAcquireCertificatePrivateKey: who releases the provider, the cache
// kept with the certificate, and the sequence that deletes a source key
// container after an import.
#include "platform/provider_registry.h"
#include "test_pki.h"

#include <cstring>

using namespace testpki;

namespace {

class AcquireTest : public ImportedPfxTest {
 protected:
  AcquireTest() : ImportedPfxTest(CRYPT_EXPORTABLE) {}
  // CryptAcquireCertificatePrivateKey with the key spec and the caller's
  // duty to release written to m_spec and m_callerFrees.
  BOOL Acquire(PCCERT_CONTEXT cert, DWORD flags, HCRYPTPROV* prov) {
    return CryptAcquireCertificatePrivateKey(cert, flags, nullptr, prov, &m_spec, &m_callerFrees);
  }
  std::string Param(HCRYPTPROV prov, DWORD param) {
    DWORD size = 0;
    if (!CryptGetProvParam(prov, param, nullptr, &size, 0)) return "<error>";
    std::string text(size, '\0');
    CryptGetProvParam(prov, param, reinterpret_cast<BYTE*>(text.data()), &size, 0);
    return text.c_str();
  }
  DWORD m_spec = 0;
  BOOL m_callerFrees = TRUE;
};

}  // namespace

TEST_F(AcquireTest, CachedHandleStaysWithTheCertificate) {
  HCRYPTPROV first = 0, second = 0;
  ASSERT_TRUE(Acquire(Cert(), CRYPT_ACQUIRE_CACHE_FLAG, &first));
  EXPECT_FALSE(m_callerFrees);
  EXPECT_EQ(m_spec, AT_KEYEXCHANGE);
  ASSERT_TRUE(Acquire(Cert(), CRYPT_ACQUIRE_CACHE_FLAG, &second));
  EXPECT_EQ(first, second);
  EXPECT_FALSE(m_callerFrees);
  // Even without the flag the cached handle is the one handed out.
  ASSERT_TRUE(Acquire(Cert(), 0, &second));
  EXPECT_EQ(first, second);
  EXPECT_FALSE(m_callerFrees);

  // The context goes with the last reference: here the store's and ours.
  EXPECT_TRUE(m_imported->Close());
  SetLastError(0);
  EXPECT_FALSE(CryptReleaseContext(first, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_UID);
}

TEST_F(AcquireTest, WithoutTheCacheTheCallerReleases) {
  HCRYPTPROV a = 0, b = 0;
  m_callerFrees = FALSE;
  ASSERT_TRUE(Acquire(Cert(), 0, &a));
  EXPECT_TRUE(m_callerFrees);
  ASSERT_TRUE(Acquire(Cert(), 0, &b));
  EXPECT_NE(a, b);
  EXPECT_TRUE(CryptReleaseContext(a, 0));
  EXPECT_TRUE(CryptReleaseContext(b, 0));
}

TEST_F(AcquireTest, DeletingTheSourceContainer) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(Acquire(Cert(), CRYPT_ACQUIRE_CACHE_FLAG, &prov));
  std::string container = Param(prov, PP_CONTAINER);
  std::string provider = Param(prov, PP_NAME);
  EXPECT_EQ(provider, platform::kSoftwareProviderName);
  EXPECT_EQ(container.size(), 36u);
  HCRYPTPROV ignored = 0;
  ASSERT_TRUE(CryptAcquireContextA(&ignored, container.c_str(), provider.c_str(), PROV_RSA_FULL,
                                   CRYPT_DELETEKEYSET));

  // A fresh copy of the certificate finds no key any more, and a second
  // deletion fails without changing anything.
  CCertificateContext copy(CertCreateCertificateContext(X509_ASN_ENCODING, Cert()->pbCertEncoded,
                                                        Cert()->cbCertEncoded));
  DWORD size = 0;
  ASSERT_TRUE(
      CertGetCertificateContextProperty(Cert(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  std::vector<std::max_align_t> info(size / sizeof(std::max_align_t) + 1);
  ASSERT_TRUE(
      CertGetCertificateContextProperty(Cert(), CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size));
  ASSERT_TRUE(
      CertSetCertificateContextProperty(copy.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, info.data()));
  SetLastError(0);
  EXPECT_FALSE(Acquire(copy.Get(), CRYPT_ACQUIRE_CACHE_FLAG, &prov));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
  EXPECT_FALSE(CryptAcquireContextA(&ignored, container.c_str(), provider.c_str(), PROV_RSA_FULL,
                                    CRYPT_DELETEKEYSET));
}

TEST_F(AcquireTest, CertificateWithoutKeyInformation) {
  PCCERT_CONTEXT bare =
      CertCreateCertificateContext(X509_ASN_ENCODING, Cert()->pbCertEncoded, Cert()->cbCertEncoded);
  HCRYPTPROV prov = 0;
  SetLastError(0);
  EXPECT_FALSE(Acquire(bare, CRYPT_ACQUIRE_CACHE_FLAG, &prov));
  EXPECT_EQ(GetLastError(), CRYPT_E_NO_KEY_PROPERTY);
  EXPECT_EQ(prov, 0u);
  CertFreeCertificateContext(bare);
  SetLastError(0);
  EXPECT_FALSE(Acquire(bare, 0, &prov));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(Acquire(nullptr, 0, &prov));
}

TEST_F(AcquireTest, NewKeyInformationDropsTheCachedHandle) {
  HCRYPTPROV cached = 0;
  ASSERT_TRUE(Acquire(Cert(), CRYPT_ACQUIRE_CACHE_FLAG, &cached));
  ASSERT_TRUE(platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "liborvel_test_provider.so"));
  std::u16string container = u"card-0123456789AB200021\\3F11\\3F77\\", provider = u"OrvelCSP";
  CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), PROV_RSA_FULL, 0, 0,
                           nullptr,          AT_SIGNATURE};
  ASSERT_TRUE(CertSetCertificateContextProperty(Cert(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  EXPECT_FALSE(CryptReleaseContext(cached, 0));  // released with the old information

  HCRYPTPROV prov = 0;
  ASSERT_TRUE(Acquire(Cert(), 0, &prov));
  EXPECT_EQ(m_spec, AT_SIGNATURE);
  EXPECT_TRUE(m_callerFrees);
  EXPECT_EQ(Param(prov, PP_NAME), "TestCSP");
  HCRYPTKEY key = 0;
  EXPECT_TRUE(CryptGetUserKey(prov, m_spec, &key));
  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_TRUE(CryptReleaseContext(prov, 0));
}
