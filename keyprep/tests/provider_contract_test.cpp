// Binding a certificate to a key container through a provider, with the
// platform's test provider: it keeps the last certificate it was given
// (parameter 0x8001) and knows only containers named "card-...", each with
// a signature key.
#include <gtest/gtest.h>

#include "keyprep/card_provider.h"
#include "keyprep_test_support.h"
#include "platform/handle_guards.h"
#include "platform/provider_registry.h"

using keyprep_test::Bytes;

namespace {

constexpr char kTestProvider[] = "Proveedor de prueba";
constexpr DWORD kLastCertificate = 0x8001;

class AttachCertificate : public testpki::UserDirTest {
 protected:
  void SetUp() override {
    UserDirTest::SetUp();
    ASSERT_TRUE(
        platform::RegisterProvider(kTestProvider, PROV_RSA_FULL, "liborvel_test_provider.so"));
  }
  // What the provider was last given with KP_CERTIFICATE.
  Bytes LastCertificate() {
    CProviderContext provider;
    if (!CryptAcquireContextA(provider.Receive(), nullptr, kTestProvider, PROV_RSA_FULL,
                              CRYPT_VERIFYCONTEXT)) {
      return {};
    }
    DWORD size = 0;
    CryptGetProvParam(provider.Get(), kLastCertificate, nullptr, &size, 0);
    Bytes value(size);
    if (size != 0) CryptGetProvParam(provider.Get(), kLastCertificate, value.data(), &size, 0);
    return value;
  }
};

TEST_F(AttachCertificate, CertificateReachesTheProvider) {
  const Bytes der = keyprep_test::CertificateDer(1024, 0x80);
  EXPECT_TRUE(AttachCertificateToKey(kTestProvider, "card-0123456789AB200021\\3F11\\3F77\\",
                                     der.data(), static_cast<DWORD>(der.size()), "1234"));
  EXPECT_EQ(LastCertificate(), der);
}

TEST_F(AttachCertificate, UnknownContainerOrProviderFails) {
  const Bytes der = keyprep_test::CertificateDer(1024, 0x80, nullptr, 1);
  EXPECT_FALSE(AttachCertificateToKey(kTestProvider, "0123456789AB200021\\3F11\\3F77\\", der.data(),
                                      static_cast<DWORD>(der.size()), "1234"));
  EXPECT_FALSE(AttachCertificateToKey("Nadie", "card-1", der.data(), static_cast<DWORD>(der.size()),
                                      "1234"));
  EXPECT_NE(LastCertificate(), der);
}

TEST_F(AttachCertificate, BytesThatAreNotExactlyOneCertificateAreNotHandedOver) {
  const Bytes der = keyprep_test::CertificateDer(1024, 0x20, nullptr, 2);
  Bytes longer = der;
  longer.push_back(0x00);
  EXPECT_FALSE(AttachCertificateToKey(kTestProvider, "card-1", longer.data(),
                                      static_cast<DWORD>(longer.size()), "1234"));
  EXPECT_FALSE(AttachCertificateToKey(kTestProvider, "card-1", der.data(),
                                      static_cast<DWORD>(der.size() - 1), "1234"));
  EXPECT_FALSE(AttachCertificateToKey(kTestProvider, "card-1", der.data(),
                                      static_cast<DWORD>(der.size()), nullptr));
  EXPECT_FALSE(AttachCertificateToKey(kTestProvider, "card-1", nullptr, 0, "1234"));
  EXPECT_NE(LastCertificate(), der);
}

}  // namespace
