// The key identifier comes from the card's provider, over the big-endian
// modulus.
#include <gtest/gtest.h>

#include "common/reverse_bytes.h"
#include "keyprep/card_provider.h"
#include "keyprep/key_export.h"
#include "keyprep/key_identifier.h"
#include "keyprep_test_support.h"
#include "platform/provider_registry.h"

using keyprep_test::Bytes;
using keyprep_test::Sha1;

namespace {

class KeyIdentifierTest : public testpki::UserDirTest {
 protected:
  void SetUp() override {
    UserDirTest::SetUp();
    ASSERT_TRUE(platform::RegisterProvider(kCardProviderName, PROV_RSA_FULL, "liborvelcsp.so"));
  }
};

Bytes ToBytes(const KeyIdentifier& id) { return Bytes(id.begin(), id.end()); }

TEST_F(KeyIdentifierTest, IdentifierOfAnExportedKeyIsSha1OfTheCertificateModulus) {
  keyprep_test::ImportedCertificate cert(1024, CRYPT_EXPORTABLE);
  PrivateKeyBlob blob;
  ASSERT_TRUE(ExportPrivateKeyBlob(cert.Get(), &blob));

  KeyIdentifier id{};
  ASSERT_TRUE(ComputeKeyIdentifier(blob.Modulus(), blob.BitLength() / 8, &id));
  const Bytes modulus = keyprep_test::ModulusOf(cert.Der());
  ASSERT_EQ(modulus.size(), 128u);
  EXPECT_EQ(ToBytes(id), Sha1(modulus));
}

TEST_F(KeyIdentifierTest, LastStoredByteIsHashedFirst) {
  Bytes littleEndian(128);
  for (std::size_t i = 0; i < littleEndian.size(); ++i) littleEndian[i] = static_cast<BYTE>(i * 7);
  littleEndian[127] = 0xC1;
  Bytes bigEndian(128);
  ReverseBytes(bigEndian.data(), littleEndian.data(), bigEndian.size());
  ASSERT_EQ(bigEndian[0], 0xC1);

  KeyIdentifier id{};
  ASSERT_TRUE(ComputeKeyIdentifier(littleEndian.data(), 128, &id));
  EXPECT_EQ(ToBytes(id), Sha1(bigEndian));
  EXPECT_NE(ToBytes(id), Sha1(littleEndian));
}

TEST_F(KeyIdentifierTest, WithoutTheCardProviderNothingIsComputed) {
  ASSERT_TRUE(platform::UnregisterProvider(kCardProviderName));
  Bytes modulus(128, 0x11);
  KeyIdentifier id{};
  id.fill(0xEE);
  EXPECT_FALSE(ComputeKeyIdentifier(modulus.data(), 128, &id));
  EXPECT_EQ(ToBytes(id), Bytes(20, 0xEE));
}

TEST_F(KeyIdentifierTest, BadArgumentsAreRefused) {
  Bytes modulus(128, 0x11);
  KeyIdentifier id{};
  EXPECT_FALSE(ComputeKeyIdentifier(nullptr, 128, &id));
  EXPECT_FALSE(ComputeKeyIdentifier(modulus.data(), 0, &id));
  EXPECT_FALSE(ComputeKeyIdentifier(modulus.data(), 128, nullptr));
}

}  // namespace
