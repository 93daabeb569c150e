// The software provider's private-key operations through the platform:
// PKCS#1 v1.5 signatures equal to OpenSSL's for every hash it offers, values
// hashed elsewhere, verification with an imported public key, deciphering of
// OpenSSL cryptograms and the refusals around them.
#include <openssl/rsa.h>

#include "test_pki.h"

using namespace testpki;

namespace {

class SoftKeyTest : public ImportedPfxTest {
 protected:
  void SetUp() override {
    ImportedPfxTest::SetUp();
    BOOL callerFrees = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(Cert(), 0, nullptr, m_prov.Receive(), &m_keySpec,
                                                  &callerFrees));
    ASSERT_EQ(m_keySpec, AT_KEYEXCHANGE);
  }
  void TearDown() override {
    m_prov.Release();
    ImportedPfxTest::TearDown();
  }
  // The little-endian signature of data, hashed by the provider.
  Bytes Sign(ALG_ID algorithm, const Bytes& data, DWORD keySpec, DWORD* error = nullptr) {
    CHashHandle hash;
    EXPECT_TRUE(CryptCreateHash(m_prov.Get(), algorithm, 0, 0, hash.Receive()));
    EXPECT_TRUE(CryptHashData(hash.Get(), data.data(), static_cast<DWORD>(data.size()), 0));
    Bytes signature(128);
    DWORD size = static_cast<DWORD>(signature.size());
    SetLastError(0);
    if (!CryptSignHashA(hash.Get(), keySpec, nullptr, 0, signature.data(), &size)) {
      signature.clear();
      size = 0;
    }
    if (error) *error = GetLastError();
    signature.resize(size);
    return signature;
  }
  CProviderContext m_prov;
  DWORD m_keySpec = 0;
};

struct HashCase {
  ALG_ID algorithm;
  const EVP_MD* (*digest)();
  DWORD size;
};
class SoftSignatureTest : public SoftKeyTest, public ::testing::WithParamInterface<HashCase> {};

TEST_P(SoftSignatureTest, EqualsOpenSslAndVerifies) {
  const HashCase& c = GetParam();
  const Bytes data = {'f', 'i', 'r', 'm', 'a'};
  const Bytes signature = Sign(c.algorithm, data, AT_KEYEXCHANGE);
  ASSERT_EQ(signature.size(), 128u);
  EXPECT_EQ(Reversed(signature), OpenSslSign(Key(1024), c.digest(), data));

  // The same value hashed elsewhere signs the same way.
  CHashHandle hash;
  ASSERT_TRUE(CryptCreateHash(m_prov.Get(), c.algorithm, 0, 0, hash.Receive()));
  Bytes value(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), value.data(), &length, c.digest(), nullptr);
  ASSERT_EQ(length, c.size);
  ASSERT_TRUE(CryptSetHashParam(hash.Get(), HP_HASHVAL, value.data(), 0));
  SetLastError(0);
  EXPECT_FALSE(CryptHashData(hash.Get(), data.data(), 1, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
  DWORD size = 0;
  ASSERT_TRUE(CryptSignHashA(hash.Get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &size));
  EXPECT_EQ(size, 128u);
  Bytes again(size);
  ASSERT_TRUE(CryptSignHashA(hash.Get(), AT_KEYEXCHANGE, nullptr, 0, again.data(), &size));
  EXPECT_EQ(again, signature);

  // Verified with the public key exported and imported again; one bit less
  // and it does not verify.
  CKeyHandle key;
  ASSERT_TRUE(CryptGetUserKey(m_prov.Get(), AT_KEYEXCHANGE, key.Receive()));
  BYTE blob[200];
  DWORD blobSize = sizeof blob;
  ASSERT_TRUE(CryptExportKey(key.Get(), 0, PUBLICKEYBLOB, 0, blob, &blobSize));
  CProviderContext verifier;
  ASSERT_TRUE(CryptAcquireContextA(verifier.Receive(), nullptr, nullptr, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT));
  CKeyHandle publicKey;
  ASSERT_TRUE(CryptImportKey(verifier.Get(), blob, blobSize, 0, 0, publicKey.Receive()));
  CHashHandle check;
  ASSERT_TRUE(CryptCreateHash(verifier.Get(), c.algorithm, 0, 0, check.Receive()));
  ASSERT_TRUE(CryptSetHashParam(check.Get(), HP_HASHVAL, value.data(), 0));
  EXPECT_TRUE(
      CryptVerifySignatureA(check.Get(), signature.data(), 128, publicKey.Get(), nullptr, 0));
  Bytes damaged = signature;
  damaged[5] ^= 0x01;
  SetLastError(0);
  EXPECT_FALSE(
      CryptVerifySignatureA(check.Get(), damaged.data(), 128, publicKey.Get(), nullptr, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_SIGNATURE);
  // Something that is not a key handle is refused.
  SetLastError(0);
  EXPECT_FALSE(CryptVerifySignatureA(hash.Get(), signature.data(), 128, 0x1234, nullptr, 0));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
}

// SSL3_SHAMD5 signs MD5 then SHA-1 of the data, bare, without a DigestInfo.
const EVP_MD* NoDigest() { return nullptr; }
INSTANTIATE_TEST_SUITE_P(Hashes, SoftSignatureTest,
                         ::testing::Values(HashCase{CALG_SHA1, EVP_sha1, 20},
                                           HashCase{CALG_SHA_256, EVP_sha256, 32},
                                           HashCase{CALG_MD5, EVP_md5, 16}));

TEST_F(SoftKeyTest, Ssl3ShaMd5SignsTheBare36Bytes) {
  const Bytes data = {'h', 'o', 'l', 'a'};
  Bytes both(36);
  EVP_Digest(data.data(), data.size(), both.data(), nullptr, EVP_md5(), nullptr);
  EVP_Digest(data.data(), data.size(), both.data() + 16, nullptr, EVP_sha1(), nullptr);
  EXPECT_EQ(Reversed(Sign(CALG_SSL3_SHAMD5, data, AT_KEYEXCHANGE)),
            OpenSslSign(Key(1024), NoDigest(), both));
  // CRYPT_NOHASHOID leaves the DigestInfo out for the others too.
  CHashHandle hash;
  ASSERT_TRUE(CryptCreateHash(m_prov.Get(), CALG_SHA1, 0, 0, hash.Receive()));
  ASSERT_TRUE(CryptSetHashParam(hash.Get(), HP_HASHVAL, both.data() + 16, 0));
  Bytes signature(128);
  DWORD size = 128;
  ASSERT_TRUE(CryptSignHashA(hash.Get(), AT_KEYEXCHANGE, nullptr, CRYPT_NOHASHOID, signature.data(),
                             &size));
  EXPECT_EQ(Reversed(signature),
            OpenSslSign(Key(1024), NoDigest(), Bytes(both.begin() + 16, both.end())));
}

TEST_F(SoftKeyTest, RefusalsAroundSigning) {
  DWORD error = 0;
  // The container holds the exchange key only.
  EXPECT_TRUE(Sign(CALG_SHA1, {1, 2, 3}, AT_SIGNATURE, &error).empty());
  EXPECT_EQ(error, NTE_NO_KEY);
  CProviderContext verifier;  // outlives the hash
  CHashHandle hash;
  SetLastError(0);
  EXPECT_FALSE(CryptCreateHash(m_prov.Get(), 0x8001 /* MD2 */, 0, 0, hash.Receive()));
  EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
  // A verification context has no key to sign with.
  ASSERT_TRUE(CryptAcquireContextA(verifier.Receive(), nullptr, nullptr, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT));
  ASSERT_TRUE(CryptCreateHash(verifier.Get(), CALG_SHA1, 0, 0, hash.Receive()));
  DWORD size = 0;
  SetLastError(0);
  EXPECT_FALSE(CryptSignHashA(hash.Get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &size));
  EXPECT_EQ(GetLastError(), NTE_NO_KEY);
}

TEST_F(SoftKeyTest, DecryptsOpenSslCryptogramsAndRefusesBadOnes) {
  CKeyHandle key;
  ASSERT_TRUE(CryptGetUserKey(m_prov.Get(), AT_KEYEXCHANGE, key.Receive()));
  EXPECT_EQ(KeyParam(key.Get(), KP_KEYLEN), 1024u);
  EXPECT_EQ(KeyParam(key.Get(), KP_ALGID), CALG_RSA_KEYX);

  for (const Bytes& plaintext : {Bytes{0x42}, Bytes(117, 0xA5), Bytes(16, 0x00)}) {
    Bytes data = Reversed(OpenSslEncrypt(Key(1024), plaintext));
    DWORD length = static_cast<DWORD>(data.size());
    ASSERT_TRUE(CryptDecrypt(key.Get(), 0, TRUE, 0, data.data(), &length));
    EXPECT_EQ(Bytes(data.begin(), data.begin() + length), plaintext);
  }
  struct Bad {
    Bytes cryptogram;
    DWORD error;
  };
  const Bad bad[] = {
      {Reversed(OpenSslEncrypt(Key(1024, 1), {1, 2, 3})), NTE_BAD_DATA},  // another key's
      {Bytes(127, 0x11), NTE_BAD_DATA},                                   // too short
      {OpenSslEncrypt(Key(1024), {1, 2, 3}), NTE_BAD_DATA},               // big-endian
  };
  for (const Bad& b : bad) {
    Bytes data = b.cryptogram;
    DWORD length = static_cast<DWORD>(data.size());
    SetLastError(0);
    EXPECT_FALSE(CryptDecrypt(key.Get(), 0, TRUE, 0, data.data(), &length));
    EXPECT_EQ(GetLastError(), b.error);
  }
  Bytes data = Reversed(OpenSslEncrypt(Key(1024), {1}));
  DWORD length = 128;
  SetLastError(0);
  EXPECT_FALSE(CryptDecrypt(key.Get(), 0, FALSE, 0, data.data(), &length));
  EXPECT_EQ(GetLastError(), NTE_BAD_DATA);
}

}  // namespace
