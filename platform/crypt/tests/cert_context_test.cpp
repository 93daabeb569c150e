// Certificate contexts: decoding, what the decoded information exposes, key
// length and key usage, properties, reference counting and bad input.
#include "test_pki.h"

#include <cstring>

using namespace testpki;

namespace {

Bytes CertDer(const CertSpec& spec) { return Der(MakeCert(spec).get()); }

}  // namespace

TEST(CertContext, ExposesEncodingAndDecodedInformation) {
  CertSpec spec{Key(1024)};
  spec.serial = 0x1234;
  Bytes der = CertDer(spec);
  CertContext ctx(der, X509_ASN_ENCODING);
  ASSERT_NE(ctx.Get(), nullptr);
  EXPECT_EQ(ctx.Get()->dwCertEncodingType, X509_ASN_ENCODING);
  ASSERT_EQ(ctx.Get()->cbCertEncoded, der.size());
  EXPECT_EQ(0, std::memcmp(ctx.Get()->pbCertEncoded, der.data(), der.size()));
  EXPECT_EQ(ctx.Get()->hCertStore, nullptr);
  const CERT_INFO* info = ctx.Get()->pCertInfo;
  EXPECT_EQ(info->dwVersion, CERT_V3);
  ASSERT_EQ(info->SerialNumber.cbData, 2u);  // little-endian 0x1234
  EXPECT_EQ(info->SerialNumber.pbData[0], 0x34);
  EXPECT_EQ(info->SerialNumber.pbData[1], 0x12);
  EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA);
  EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.cUnusedBits, 0u);
  // The key bits are the DER RSAPublicKey: a SEQUENCE holding the modulus.
  EXPECT_EQ(info->SubjectPublicKeyInfo.PublicKey.pbData[0], 0x30);
  EXPECT_GT(info->NotAfter.dwHighDateTime, info->NotBefore.dwHighDateTime);
  EXPECT_GT(info->NotBefore.dwHighDateTime, 0x01D00000u);  // after 2014
}

TEST(CertContext, SignatureAlgorithmIsTheDottedOid) {
  struct Case {
    const EVP_MD* md;
    const char* oid;
  } cases[] = {
      {EVP_md5(), "1.2.840.113549.1.1.4"},
      {EVP_sha1(), "1.2.840.113549.1.1.5"},
      {EVP_sha256(), "1.2.840.113549.1.1.11"},
  };
  for (const Case& c : cases) {
    CertSpec spec{Key(1024)};
    spec.digest = c.md;
    CertContext ctx(CertDer(spec));
    ASSERT_NE(ctx.Get(), nullptr);
    EXPECT_STREQ(ctx.Get()->pCertInfo->SignatureAlgorithm.pszObjId, c.oid);
  }
}

TEST(CertContext, PublicKeyLength) {
  for (int bits : {512, 1024, 2048}) {
    CertContext ctx(CertDer(CertSpec{Key(bits)}));
    ASSERT_NE(ctx.Get(), nullptr);
    EXPECT_EQ(CertGetPublicKeyLength(kEncoding, &ctx.Get()->pCertInfo->SubjectPublicKeyInfo),
              static_cast<DWORD>(bits));
  }
}

TEST(CertContext, PublicKeyLengthIsZeroForAnUnparsableKey) {
  CertContext ctx(CertDer(CertSpec{Key(1024)}));
  ASSERT_NE(ctx.Get(), nullptr);
  CERT_PUBLIC_KEY_INFO info = ctx.Get()->pCertInfo->SubjectPublicKeyInfo;
  Bytes garbage(info.PublicKey.pbData, info.PublicKey.pbData + info.PublicKey.cbData);
  garbage[0] = 0x04;  // not a SEQUENCE any more
  info.PublicKey.pbData = garbage.data();
  EXPECT_EQ(CertGetPublicKeyLength(kEncoding, &info), 0u);
  info.PublicKey.cbData = 3;  // truncated
  EXPECT_EQ(CertGetPublicKeyLength(kEncoding, &info), 0u);
  CERT_PUBLIC_KEY_INFO bogusOid = ctx.Get()->pCertInfo->SubjectPublicKeyInfo;
  char oid[] = "1.2.3.4.5";
  bogusOid.Algorithm.pszObjId = oid;
  EXPECT_EQ(CertGetPublicKeyLength(kEncoding, &bogusOid), 0u);
  char notOid[] = "rsa";
  bogusOid.Algorithm.pszObjId = notOid;
  EXPECT_EQ(CertGetPublicKeyLength(kEncoding, &bogusOid), 0u);
  EXPECT_EQ(CertGetPublicKeyLength(kEncoding, nullptr), 0u);
}

TEST(CertContext, IntendedKeyUsageIsTheFirstByteOfTheBits) {
  for (int usage : {0x80, 0x20, 0xA0, 0x40, 0x04, 0x30, 0x86}) {
    CertSpec spec{Key(1024)};
    spec.keyUsage = usage;
    CertContext ctx(CertDer(spec));
    ASSERT_NE(ctx.Get(), nullptr);
    BYTE byte = 0xEE;
    EXPECT_TRUE(CertGetIntendedKeyUsage(kEncoding, ctx.Get()->pCertInfo, &byte, 1)) << usage;
    EXPECT_EQ(byte, usage);
  }
}

TEST(CertContext, IntendedKeyUsageWithoutTheExtensionIsFalseAndZero) {
  CertContext ctx(CertDer(CertSpec{Key(1024)}));
  ASSERT_NE(ctx.Get(), nullptr);
  BYTE byte = 0xEE;
  EXPECT_FALSE(CertGetIntendedKeyUsage(kEncoding, ctx.Get()->pCertInfo, &byte, 1));
  EXPECT_EQ(byte, 0);
}

TEST(CertContext, MalformedInputIsRefused) {
  Bytes der = CertDer(CertSpec{Key(1024)});
  SetLastError(0);
  EXPECT_EQ(CertCreateCertificateContext(kEncoding, der.data(), 0), nullptr);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_EQ(CertCreateCertificateContext(kEncoding, nullptr, 10), nullptr);
  for (std::size_t cut : {std::size_t{1}, std::size_t{4}, der.size() / 2, der.size() - 1}) {
    SetLastError(0);
    EXPECT_EQ(CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(cut)), nullptr)
        << cut;
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
  }
  Bytes trailing = der;
  trailing.push_back(0);
  EXPECT_EQ(
      CertCreateCertificateContext(kEncoding, trailing.data(), static_cast<DWORD>(trailing.size())),
      nullptr);
  Bytes wrongTag = der;
  wrongTag[0] = 0x31;
  EXPECT_EQ(
      CertCreateCertificateContext(kEncoding, wrongTag.data(), static_cast<DWORD>(wrongTag.size())),
      nullptr);
  // PKCS#7 alone does not name the certificate encoding.
  SetLastError(0);
  EXPECT_EQ(
      CertCreateCertificateContext(PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CertContext, DuplicateSharesTheContextUntilTheLastFree) {
  Bytes der = CertDer(CertSpec{Key(1024)});
  PCCERT_CONTEXT ctx =
      CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size()));
  ASSERT_NE(ctx, nullptr);
  PCCERT_CONTEXT dup = CertDuplicateCertificateContext(ctx);
  EXPECT_EQ(dup, ctx);
  EXPECT_TRUE(CertFreeCertificateContext(ctx));
  // Still alive through the duplicate.
  BYTE hash[20];
  DWORD size = sizeof hash;
  EXPECT_TRUE(CertGetCertificateContextProperty(dup, CERT_SHA1_HASH_PROP_ID, hash, &size));
  EXPECT_TRUE(CertFreeCertificateContext(dup));
  // Now gone: every function refuses it instead of touching freed memory.
  SetLastError(0);
  EXPECT_FALSE(CertFreeCertificateContext(dup));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CertDuplicateCertificateContext(dup), nullptr);
  EXPECT_FALSE(CertGetCertificateContextProperty(dup, CERT_SHA1_HASH_PROP_ID, hash, &size));
  EXPECT_TRUE(CertFreeCertificateContext(nullptr));
  EXPECT_EQ(CertDuplicateCertificateContext(nullptr), nullptr);
}

TEST(CertContext, KeyProvInfoRoundTripsWithWideNames) {
  CertContext ctx(CertDer(CertSpec{Key(1024)}));
  ASSERT_NE(ctx.Get(), nullptr);
  std::u16string container = u"0123456789AB640021\\3F11\\3F77\\";
  std::u16string provider = u"OrvelCSP";
  BYTE paramData[] = {1, 2, 3};
  CRYPT_KEY_PROV_PARAM param{7, paramData, sizeof paramData, 0};
  CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), PROV_RSA_FULL, 0, 1, &param, 3};
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));

  DWORD size = 0;
  ASSERT_TRUE(
      CertGetCertificateContextProperty(ctx.Get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  ASSERT_GE(size, sizeof(CRYPT_KEY_PROV_INFO));
  std::vector<BYTE> small(size - 1);
  DWORD smallSize = static_cast<DWORD>(small.size());
  SetLastError(0);
  EXPECT_FALSE(CertGetCertificateContextProperty(ctx.Get(), CERT_KEY_PROV_INFO_PROP_ID,
                                                 small.data(), &smallSize));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(smallSize, size);

  // Heap buffer of exactly that size, as the callers allocate it.
  auto buffer = std::make_unique<std::max_align_t[]>(size / sizeof(std::max_align_t) + 1);
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx.Get(), CERT_KEY_PROV_INFO_PROP_ID, buffer.get(),
                                                &size));
  const auto* got = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.get());
  EXPECT_EQ(std::u16string(got->pwszContainerName), container);
  EXPECT_EQ(std::u16string(got->pwszProvName), provider);
  EXPECT_EQ(got->dwProvType, PROV_RSA_FULL);
  EXPECT_EQ(got->dwFlags, 0u);
  EXPECT_EQ(got->dwKeySpec, 3u);
  ASSERT_EQ(got->cProvParam, 1u);
  EXPECT_EQ(got->rgProvParam[0].dwParam, 7u);
  ASSERT_EQ(got->rgProvParam[0].cbData, 3u);
  EXPECT_EQ(got->rgProvParam[0].pbData[2], 3);

  // Removing the property.
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
  SetLastError(0);
  EXPECT_FALSE(
      CertGetCertificateContextProperty(ctx.Get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
}

TEST(CertContext, BlobPropertiesAndTheComputedHash) {
  Bytes der = CertDer(CertSpec{Key(1024)});
  CertContext ctx(der);
  ASSERT_NE(ctx.Get(), nullptr);
  BYTE expected[20];
  EVP_Digest(der.data(), der.size(), expected, nullptr, EVP_sha1(), nullptr);
  BYTE hash[20] = {};
  DWORD size = sizeof hash;
  ASSERT_TRUE(CertGetCertificateContextProperty(ctx.Get(), CERT_SHA1_HASH_PROP_ID, hash, &size));
  EXPECT_EQ(0, std::memcmp(hash, expected, 20));

  BYTE name[] = {'A', 0, 0, 0};
  CRYPT_DATA_BLOB blob{sizeof name, name};
  ASSERT_TRUE(CertSetCertificateContextProperty(ctx.Get(), CERT_FRIENDLY_NAME_PROP_ID, 0, &blob));
  size = 0;
  ASSERT_TRUE(
      CertGetCertificateContextProperty(ctx.Get(), CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size));
  EXPECT_EQ(size, sizeof name);
  SetLastError(0);
  EXPECT_FALSE(CertGetCertificateContextProperty(ctx.Get(), 77, nullptr, &size));
  EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
  EXPECT_FALSE(
      CertGetCertificateContextProperty(ctx.Get(), CERT_FRIENDLY_NAME_PROP_ID, nullptr, nullptr));
}

TEST(CertContext, RandomlyDamagedCertificatesFailCleanly) {
  CertSpec spec{Key(1024)};
  spec.keyUsage = 0xA0;
  const Bytes der = CertDer(spec);
  std::uint32_t seed = 777;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  int decoded = 0;
  for (int round = 0; round < 600; ++round) {
    Bytes damaged = der;
    for (int n = 1 + next() % 4; n > 0; --n)
      damaged[next() % damaged.size()] = static_cast<BYTE>(next() >> 16);
    SetLastError(0);
    PCCERT_CONTEXT ctx =
        CertCreateCertificateContext(kEncoding, damaged.data(), static_cast<DWORD>(damaged.size()));
    if (!ctx) {
      EXPECT_NE(GetLastError(), 0u);
      continue;
    }
    ++decoded;
    // Whatever decoded must be readable throughout.
    BYTE usage = 0;
    CertGetIntendedKeyUsage(kEncoding, ctx->pCertInfo, &usage, 1);
    CertGetPublicKeyLength(kEncoding, &ctx->pCertInfo->SubjectPublicKeyInfo);
    EXPECT_EQ(ctx->cbCertEncoded, damaged.size());
    EXPECT_TRUE(CertFreeCertificateContext(ctx));
  }
  EXPECT_GT(decoded, 0);  // damage in the signature bits still decodes
}
