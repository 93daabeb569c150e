// Values of variable length: provider parameters and certificate properties.
#include <gtest/gtest.h>

#include <cstring>

#include "keyprep/provider_values.h"
#include "keyprep_test_support.h"
#include "platform/provider_registry.h"

namespace {

// The platform's test provider reports this parameter with 0 bytes while
// it has been given no certificate.
constexpr DWORD kEmptyParameter = 0x8001;

class ProviderValues : public testpki::UserDirTest {
 protected:
  // A verification context of the provider, held by the fixture.
  HCRYPTPROV VerificationContext(const char* providerName) {
    EXPECT_TRUE(CryptAcquireContextA(m_provider.Receive(), nullptr, providerName, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
    return m_provider.Get();
  }
  CProviderContext m_provider;
};

TEST_F(ProviderValues, ParameterIsFetchedWhole) {
  const HCRYPTPROV provider = VerificationContext(platform::kSoftwareProviderName);
  std::unique_ptr<BYTE[]> buffer;
  DWORD length = 0;
  ASSERT_TRUE(GetProviderParam(provider, PP_NAME, &buffer, &length));
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(length, std::strlen(platform::kSoftwareProviderName) + 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.get()), platform::kSoftwareProviderName);
  // Both outputs are optional.
  EXPECT_TRUE(GetProviderParam(provider, PP_NAME, nullptr, nullptr));
  EXPECT_TRUE(m_provider.Release());
}

TEST_F(ProviderValues, SizeZeroAllocatesNothing) {
  ASSERT_TRUE(platform::RegisterProvider("Proveedor de prueba", PROV_RSA_FULL,
                                         "liborvel_test_provider.so"));
  const HCRYPTPROV provider = VerificationContext("Proveedor de prueba");
  // The parameter exists and is empty.
  DWORD size = 99;
  ASSERT_TRUE(CryptGetProvParam(provider, kEmptyParameter, nullptr, &size, 0));
  ASSERT_EQ(size, 0u);

  std::unique_ptr<BYTE[]> buffer;
  DWORD length = 777;
  EXPECT_FALSE(GetProviderParam(provider, kEmptyParameter, &buffer, &length));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(length, 777u);
  EXPECT_TRUE(m_provider.Release());
}

TEST_F(ProviderValues, FailedQueryAllocatesNothing) {
  const HCRYPTPROV provider = VerificationContext(platform::kSoftwareProviderName);
  std::unique_ptr<BYTE[]> buffer;
  DWORD length = 777;
  // A verification context has no container; 0x7777 is no parameter at all.
  EXPECT_FALSE(GetProviderParam(provider, PP_CONTAINER, &buffer, &length));
  EXPECT_FALSE(GetProviderParam(provider, 0x7777, &buffer, &length));
  EXPECT_TRUE(m_provider.Release());
  EXPECT_FALSE(GetProviderParam(provider, PP_NAME, &buffer, &length));  // released handle
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(length, 777u);
}

TEST_F(ProviderValues, KeyProviderInformationOfAnImportedCertificate) {
  keyprep_test::ImportedCertificate cert(1024, CRYPT_EXPORTABLE);
  ASSERT_NE(cert.Get(), nullptr);
  std::unique_ptr<BYTE[]> buffer;
  DWORD length = 0;
  ASSERT_TRUE(GetCertificateProperty(cert.Get(), CERT_KEY_PROV_INFO_PROP_ID, &buffer, &length));
  ASSERT_GE(length, sizeof(CRYPT_KEY_PROV_INFO));
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.get());
  EXPECT_EQ(std::u16string(info->pwszProvName), u"Orvel Software RSA Provider");
  EXPECT_EQ(info->dwProvType, PROV_RSA_FULL);

  keyprep_test::CertContext bare(cert.Der());
  std::unique_ptr<BYTE[]> none;
  DWORD noneLength = 5;
  EXPECT_FALSE(GetCertificateProperty(bare.Get(), CERT_KEY_PROV_INFO_PROP_ID, &none, &noneLength));
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(noneLength, 5u);
  EXPECT_FALSE(GetCertificateProperty(nullptr, CERT_KEY_PROV_INFO_PROP_ID, &none, &noneLength));
}

}  // namespace
