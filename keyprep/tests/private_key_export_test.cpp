// Exporting the software key of a certificate for the card, and deleting its
// container afterwards.
#include <gtest/gtest.h>

#include <openssl/bn.h>

#include <algorithm>

#include "common/reverse_bytes.h"
#include "keyprep/key_export.h"
#include "keyprep_test_support.h"

using keyprep_test::Bytes;
using keyprep_test::ImportedCertificate;
using keyprep_test::ModulusOf;
using keyprep_test::SoftwareContainerExists;

namespace {

bool AllZero(const PrivateKeyBlob& blob) {
  return std::all_of(blob.Data(), blob.Data() + PrivateKeyBlob::kSize,
                     [](BYTE b) { return b == 0; });
}

// A little-endian integer of the blob as a BIGNUM.
BIGNUM* FromLittleEndian(const BYTE* bytes, std::size_t size) {
  return BN_lebin2bn(bytes, static_cast<int>(size), nullptr);
}

class KeyExport : public testpki::UserDirTest {};

TEST_F(KeyExport, ExportableKeyGivesThe596ByteBlob) {
  ImportedCertificate cert(1024, CRYPT_EXPORTABLE);
  ASSERT_NE(cert.Get(), nullptr);
  PrivateKeyBlob blob;
  ASSERT_TRUE(ExportPrivateKeyBlob(cert.Get(), &blob));

  EXPECT_EQ(blob.Data()[0], PRIVATEKEYBLOB);
  EXPECT_EQ(blob.BitLength(), 1024u);
  EXPECT_EQ(blob.PublicExponent(), 65537u);
  // The modulus stands little-endian: reversed, it is the certificate's.
  Bytes modulus(PrivateKeyBlob::kModulusSize);
  ReverseBytes(modulus.data(), blob.Modulus(), modulus.size());
  EXPECT_EQ(modulus, ModulusOf(cert.Der()));

  // The parts sit where the accessors say: p * q = n.
  BIGNUM* p = FromLittleEndian(blob.Prime1(), PrivateKeyBlob::kPrimeSize);
  BIGNUM* q = FromLittleEndian(blob.Prime2(), PrivateKeyBlob::kPrimeSize);
  BIGNUM* n = FromLittleEndian(blob.Modulus(), PrivateKeyBlob::kModulusSize);
  BIGNUM* product = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  ASSERT_EQ(BN_mul(product, p, q, ctx), 1);
  EXPECT_EQ(BN_cmp(product, n), 0);
  // qInv * q = 1 mod p.
  BIGNUM* qInv = FromLittleEndian(blob.Coefficient(), PrivateKeyBlob::kPrimeSize);
  BIGNUM* check = BN_new();
  ASSERT_EQ(BN_mod_mul(check, qInv, q, p, ctx), 1);
  EXPECT_TRUE(BN_is_one(check));
  for (BIGNUM* b : {p, q, n, product, qInv, check}) BN_clear_free(b);
  BN_CTX_free(ctx);

  blob.Wipe();
  EXPECT_TRUE(AllZero(blob));
}

TEST_F(KeyExport, KeyNotMarkedExportableIsRefused) {
  ImportedCertificate cert(1024, 0);
  ASSERT_NE(cert.Get(), nullptr);
  PrivateKeyBlob blob;
  EXPECT_FALSE(ExportPrivateKeyBlob(cert.Get(), &blob));
  EXPECT_TRUE(AllZero(blob));
}

TEST_F(KeyExport, KeysOtherThan1024BitsAreRefused) {
  // 2048 bits: the blob does not fit; 512 bits: it is shorter than 596 bytes.
  for (int bits : {2048, 512}) {
    ImportedCertificate cert(bits, CRYPT_EXPORTABLE);
    ASSERT_NE(cert.Get(), nullptr) << bits;
    PrivateKeyBlob blob;
    EXPECT_FALSE(ExportPrivateKeyBlob(cert.Get(), &blob)) << bits;
    EXPECT_TRUE(AllZero(blob)) << bits;
  }
}

TEST_F(KeyExport, CertificateWithoutKeyIsRefused) {
  keyprep_test::CertContext bare(keyprep_test::CertificateDer(1024));
  PrivateKeyBlob blob;
  EXPECT_FALSE(ExportPrivateKeyBlob(bare.Get(), &blob));
  EXPECT_FALSE(ExportPrivateKeyBlob(nullptr, &blob));
}

class SourceContainer : public testpki::UserDirTest {};

TEST_F(SourceContainer, DeletionRemovesOnlyThatContainer) {
  ImportedCertificate first(1024, CRYPT_EXPORTABLE, 0);
  ImportedCertificate second(1024, CRYPT_EXPORTABLE, 1);
  const std::string firstName = first.ContainerName();
  const std::string secondName = second.ContainerName();
  ASSERT_FALSE(firstName.empty());
  ASSERT_NE(firstName, secondName);
  ASSERT_TRUE(SoftwareContainerExists(firstName));

  EXPECT_TRUE(DeleteSourceKeyContainer(first.Get()));
  EXPECT_FALSE(SoftwareContainerExists(firstName));
  EXPECT_TRUE(SoftwareContainerExists(secondName));

  // Already gone: false, and nothing else changes.
  EXPECT_FALSE(DeleteSourceKeyContainer(first.Get()));
  EXPECT_TRUE(SoftwareContainerExists(secondName));
  PrivateKeyBlob blob;
  EXPECT_TRUE(ExportPrivateKeyBlob(second.Get(), &blob));
}

TEST_F(SourceContainer, CertificateWithoutKeyInformationIsRefused) {
  keyprep_test::CertContext bare(keyprep_test::CertificateDer(1024));
  EXPECT_FALSE(DeleteSourceKeyContainer(bare.Get()));
  EXPECT_FALSE(DeleteSourceKeyContainer(nullptr));
}

}  // namespace
