// Which certificates the card takes, and in which key roles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "keyprep/certificate_checks.h"
#include "keyprep_test_support.h"

using keyprep_test::Bytes;
using keyprep_test::CertContext;
using keyprep_test::CertificateDer;

namespace {

struct UsageCase {
  int usage;
  KeyRoleWord role;
};

class KeyUsageRoles : public ::testing::TestWithParam<UsageCase> {};

TEST_P(KeyUsageRoles, UsageByteGivesRoleWord) {
  const UsageCase c = GetParam();
  CertContext cert(CertificateDer(1024, c.usage));
  ASSERT_NE(cert.Get(), nullptr);

  BYTE usage = 0x5A;
  EXPECT_TRUE(GetCertificateKeyUsage(cert.Get(), &usage));
  EXPECT_EQ(usage, c.usage);

  KeyRoleWord role = 0;
  EXPECT_TRUE(ClassifyKeyUsage(cert.Get(), &role));
  EXPECT_EQ(role, c.role) << std::hex << "usage 0x" << c.usage;
}

INSTANTIATE_TEST_SUITE_P(
    UsageTable, KeyUsageRoles,
    ::testing::Values(UsageCase{0x80, 0x2000},  // digitalSignature
                      UsageCase{0x20, 0x4400},  // keyEncipherment
                      UsageCase{0xA0, 0x6400},  // both
                      UsageCase{0x40, 0x6400},  // nonRepudiation counts for neither
                      UsageCase{0x04, 0x2000},  // keyCertSign
                      UsageCase{0x30, 0x4400},  // key and data encipherment
                      UsageCase{0x02, 0x2000},  // cRLSign
                      UsageCase{0x10, 0x4400},  // dataEncipherment
                      UsageCase{0x08, 0x6400},  // keyAgreement counts for neither
                      UsageCase{0x84, 0x2000}, UsageCase{0x90, 0x6400}));

TEST(KeyUsageWithoutExtension, UsageFailsAndBothRolesAreClassified) {
  CertContext cert(CertificateDer(1024));
  ASSERT_NE(cert.Get(), nullptr);
  BYTE usage = 0x5A;
  EXPECT_FALSE(GetCertificateKeyUsage(cert.Get(), &usage));
  KeyRoleWord role = 0;
  EXPECT_TRUE(ClassifyKeyUsage(cert.Get(), &role));
  EXPECT_EQ(role, 0x6400);
}

TEST(KeyUsageBadInput, NoCertificateOrNoOutput) {
  BYTE usage = 0;
  EXPECT_FALSE(GetCertificateKeyUsage(nullptr, &usage));
  CertContext cert(CertificateDer(1024, 0x80));
  EXPECT_FALSE(GetCertificateKeyUsage(cert.Get(), nullptr));
}

// Replaces the last arc of every sha1RSA identifier in the encoding (both
// the signed one and the outer one) with another one-byte arc.
Bytes WithSignatureArc(Bytes der, BYTE arc) {
  const Bytes sha1Rsa = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05};
  int replaced = 0;
  for (auto it = std::search(der.begin(), der.end(), sha1Rsa.begin(), sha1Rsa.end());
       it != der.end(); it = std::search(it + 1, der.end(), sha1Rsa.begin(), sha1Rsa.end())) {
    *(it + 10) = arc;
    ++replaced;
  }
  EXPECT_EQ(replaced, 2);
  return der;
}

TEST(SignatureAlgorithms, Sha1AndMd5With1024BitsAreAccepted) {
  CertContext sha1(CertificateDer(1024, 0x80, EVP_sha1()));
  ASSERT_NE(sha1.Get(), nullptr);
  EXPECT_STREQ(sha1.Get()->pCertInfo->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.5");
  EXPECT_TRUE(CheckCertificateAlgorithms(sha1.Get()));

  CertContext md5(CertificateDer(1024, 0x80, EVP_md5()));
  ASSERT_NE(md5.Get(), nullptr);
  EXPECT_STREQ(md5.Get()->pCertInfo->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.4");
  EXPECT_TRUE(CheckCertificateAlgorithms(md5.Get()));
}

TEST(SignatureAlgorithms, Sha256IsRefusedEvenWith1024Bits) {
  CertContext cert(CertificateDer(1024, 0x80, EVP_sha256()));
  ASSERT_NE(cert.Get(), nullptr);
  EXPECT_STREQ(cert.Get()->pCertInfo->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.11");
  EXPECT_FALSE(CheckCertificateAlgorithms(cert.Get()));
}

TEST(SignatureAlgorithms, IdentifierThatOnlyBeginsLikeAnAcceptedOneIsRefused) {
  const Bytes der = CertificateDer(1024, 0x80, EVP_sha1());
  // 1.2.840.113549.1.1.50 and .40 begin with the text of sha1RSA and md5RSA.
  CertContext fifty(WithSignatureArc(der, 50));
  ASSERT_NE(fifty.Get(), nullptr);
  EXPECT_STREQ(fifty.Get()->pCertInfo->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.50");
  EXPECT_FALSE(CheckCertificateAlgorithms(fifty.Get()));

  CertContext forty(WithSignatureArc(der, 40));
  ASSERT_NE(forty.Get(), nullptr);
  EXPECT_STREQ(forty.Get()->pCertInfo->SignatureAlgorithm.pszObjId, "1.2.840.113549.1.1.40");
  EXPECT_FALSE(CheckCertificateAlgorithms(forty.Get()));

  // The same patch back to arc 5 is accepted: the refusal is the identifier's.
  CertContext five(WithSignatureArc(der, 5));
  EXPECT_TRUE(CheckCertificateAlgorithms(five.Get()));
}

TEST(SignatureAlgorithms, KeysOtherThan1024BitsAreRefused) {
  CertContext small(CertificateDer(512, 0x80, EVP_sha1()));
  ASSERT_NE(small.Get(), nullptr);
  EXPECT_FALSE(CheckCertificateAlgorithms(small.Get()));

  CertContext large(CertificateDer(2048, 0x80, EVP_sha1()));
  ASSERT_NE(large.Get(), nullptr);
  EXPECT_FALSE(CheckCertificateAlgorithms(large.Get()));

  EXPECT_FALSE(CheckCertificateAlgorithms(nullptr));
}

}  // namespace
