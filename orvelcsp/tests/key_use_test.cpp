// Signing and deciphering with the card's keys through the platform: the
// card's answers equal OpenSSL's for the same key, the exact security
// commands, the PIN, and the roles a key was written in.
#include <openssl/pem.h>

#include "card/crypto_card.h"
#include "fake_reader_test.h"

namespace orvelcsp_test {
namespace {

using platform::crypt::BioPtr;
using testpki::OpenSslEncrypt;
using testpki::OpenSslSign;
using testpki::Reversed;

constexpr char kReader[] = "Lector";
constexpr std::uint8_t kReference = 0x20;

class KeyUse : public FakeReaderTest {
 protected:
  // A card holding Key(1024) under kReference in the roles of roleWord, with
  // its records and its certificate bound to it.
  void PrepareCard(std::uint16_t roleWord) {
    m_card = MakeCard(kSerial);
    WriteKeyRecords(*m_card, {{.reference = kReference, .roleWord = roleWord}});
    AddReaderWithCard(kReader, m_card);
    WriteKey(roleWord);
    m_card->Reset();
  }
  // The key's parts written with the card object's own key commands.
  void WriteKey(std::uint16_t roleWord) {
    CResourceManagerContext context;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    ASSERT_EQ(context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
    ASSERT_EQ(SCardConnect(context.Get(), kReader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &handle,
                           &protocol),
              SCARD_S_SUCCESS);
    const BioPtr bio(BIO_new(BIO_s_mem()));
    ASSERT_GT(i2b_PrivateKey_bio(bio.get(), testpki::Key(1024)), 0);
    char* blob = nullptr;
    ASSERT_EQ(BIO_get_mem_data(bio.get(), &blob), 596);
    const auto* b = reinterpret_cast<const BYTE*>(blob);
    {
      CCryptoCard card(handle);
      ASSERT_EQ(card.VerifyPin(kPin), SCARD_S_SUCCESS);
      for (bool signatureRole : {true, false}) {
        if (!(roleWord & (signatureRole ? 0x2000 : 0x4000))) continue;
        ASSERT_TRUE(card.WritePublicKey(signatureRole, kReference,
                                        std::span<const BYTE, 128>(b + 20, 128), 0x10001));
        ASSERT_TRUE(card.WritePrivateKey(
            signatureRole, kReference, std::span<const BYTE, 64>(b + 148, 64),
            std::span<const BYTE, 64>(b + 212, 64), std::span<const BYTE, 64>(b + 404, 64),
            std::span<const BYTE, 64>(b + 276, 64), std::span<const BYTE, 64>(b + 340, 64)));
      }
    }
    SCardDisconnect(handle, SCARD_RESET_CARD);
  }
  static bool SetPin(HCRYPTPROV provider, const char* pin, DWORD param = PP_SIGNATURE_PIN) {
    return CryptSetProvParam(provider, param, reinterpret_cast<const BYTE*>(pin), 0);
  }
  // The signature (big-endian, as OpenSSL gives it) of data; empty with the
  // error in *error.
  static Bytes Sign(HCRYPTPROV provider, ALG_ID algorithm, const Bytes& data, DWORD keySpec,
                    DWORD* error = nullptr) {
    CHashHandle hash;
    EXPECT_TRUE(CryptCreateHash(provider, algorithm, 0, 0, hash.Receive()));
    EXPECT_TRUE(CryptHashData(hash.Get(), data.data(), static_cast<DWORD>(data.size()), 0));
    Bytes signature(128);
    DWORD size = 128;
    SetLastError(0);
    const bool signedIt = CryptSignHashA(hash.Get(), keySpec, nullptr, 0, signature.data(), &size);
    if (error) *error = GetLastError();
    return signedIt ? Reversed(signature) : Bytes{};
  }
  static DWORD Decrypt(HCRYPTPROV provider, DWORD keySpec, Bytes cryptogram, Bytes* plaintext) {
    CKeyHandle key;
    if (!CryptGetUserKey(provider, keySpec, key.Receive())) return GetLastError();
    Bytes data = Reversed(cryptogram);
    DWORD length = static_cast<DWORD>(data.size());
    SetLastError(0);
    if (!CryptDecrypt(key.Get(), 0, TRUE, 0, data.data(), &length)) return GetLastError();
    plaintext->assign(data.begin(), data.begin() + length);
    return 0;
  }
  std::shared_ptr<cardsim::VirtualCard> m_card;
};

struct HashCase {
  const char* name;
  ALG_ID algorithm;
  const EVP_MD* (*digest)();
};
class CardSignature : public KeyUse, public ::testing::WithParamInterface<HashCase> {};

TEST_P(CardSignature, EqualsOpenSslInAtMostSixCommands) {
  PrepareCard(0x6400);
  HCRYPTPROV provider = Acquire(kReference);
  ASSERT_TRUE(SetPin(provider, kPin));
  const Bytes data = {'c', 'o', 'n', 't', 'r', 'a', 't', 'o'};
  fakepcsc::ClearTrace();
  EXPECT_EQ(Sign(provider, GetParam().algorithm, data, AT_SIGNATURE),
            OpenSslSign(testpki::Key(1024), GetParam().digest(), data));
  const auto trace = fakepcsc::Trace();
  EXPECT_LE(trace.size(), 6u);
  ASSERT_FALSE(trace.empty());
  // The signature-role key under the container's reference.
  bool environmentSet = false;
  for (const auto& exchange : trace) environmentSet |= Hex(exchange.command) == "002241B603840120";
  EXPECT_TRUE(environmentSet);
  // With the key written in both roles, AT_KEYEXCHANGE signs too.
  EXPECT_EQ(Sign(provider, GetParam().algorithm, data, AT_KEYEXCHANGE),
            OpenSslSign(testpki::Key(1024), GetParam().digest(), data));
}

INSTANTIATE_TEST_SUITE_P(Hashes, CardSignature,
                         ::testing::Values(HashCase{"Sha1", CALG_SHA1, EVP_sha1},
                                           HashCase{"Sha256", CALG_SHA_256, EVP_sha256},
                                           HashCase{"Md5", CALG_MD5, EVP_md5}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(KeyUse, DeciphersOpenSslCryptogramsAndRefusesBadOnes) {
  PrepareCard(0x6400);
  HCRYPTPROV provider = Acquire(kReference);
  ASSERT_TRUE(SetPin(provider, kPin, PP_KEYEXCHANGE_PIN));
  for (const Bytes& secret : {Bytes{0x01}, Bytes(117, 0x5A)}) {
    Bytes plaintext;
    fakepcsc::ClearTrace();
    ASSERT_EQ(
        Decrypt(provider, AT_KEYEXCHANGE, OpenSslEncrypt(testpki::Key(1024), secret), &plaintext),
        0u);
    EXPECT_EQ(plaintext, secret);
    ASSERT_FALSE(fakepcsc::Trace().empty());
    EXPECT_EQ(Hex(fakepcsc::Trace().front().command), "002241B803840120");
  }
  Bytes plaintext;
  EXPECT_EQ(
      Decrypt(provider, AT_KEYEXCHANGE, OpenSslEncrypt(testpki::Key(1024, 1), {1, 2}), &plaintext),
      NTE_BAD_DATA);
  EXPECT_EQ(Decrypt(provider, AT_KEYEXCHANGE, Bytes(100, 0x33), &plaintext), NTE_BAD_DATA);
}

// A key written in one role only is used in that role only; nothing goes to
// the card for the other.
TEST_F(KeyUse, KeysServeTheRolesTheyWereWrittenIn) {
  struct Case {
    std::uint16_t roleWord;
    bool signs;
    bool deciphers;
  };
  for (const Case& c : {Case{0x2000, true, false}, Case{0x4400, false, true}}) {
    SCOPED_TRACE(c.roleWord);
    fakepcsc::Reset();
    PrepareCard(c.roleWord);
    HCRYPTPROV provider = Acquire(kReference);
    ASSERT_TRUE(SetPin(provider, kPin));
    for (DWORD spec : {AT_SIGNATURE, AT_KEYEXCHANGE}) {
      DWORD error = 0;
      const Bytes signature = Sign(provider, CALG_SHA1, {1, 2, 3}, spec, &error);
      EXPECT_EQ(!signature.empty(), c.signs);
      if (!c.signs) {
        EXPECT_EQ(error, NTE_NO_KEY);
      }
    }
    Bytes plaintext;
    const DWORD error =
        Decrypt(provider, AT_KEYEXCHANGE, OpenSslEncrypt(testpki::Key(1024), {7}), &plaintext);
    EXPECT_EQ(error, c.deciphers ? 0u : NTE_NO_KEY);
    m_provider.Release();
  }
}

struct PinCase {
  const char* name;
  DWORD acquireFlags;
  const char* pin;  // null: none given
  int wrongTriesBefore;
  DWORD error;
};
class CardPin : public KeyUse, public ::testing::WithParamInterface<PinCase> {};

TEST_P(CardPin, SigningWithoutTheRightPinFails) {
  const PinCase& c = GetParam();
  PrepareCard(0x6400);
  HCRYPTPROV provider = Acquire(kReference, c.acquireFlags);
  for (int i = 0; i < c.wrongTriesBefore; ++i) SetPin(provider, "0000");
  DWORD error = 0;
  if (c.pin) {
    EXPECT_FALSE(SetPin(provider, c.pin));
    error = GetLastError();
  } else {
    EXPECT_TRUE(Sign(provider, CALG_SHA1, {1}, AT_SIGNATURE, &error).empty());
  }
  EXPECT_EQ(error, c.error);
  // Nothing was signed: the card never saw a verified PIN.
  EXPECT_FALSE(m_card->PinVerified());
}

INSTANTIATE_TEST_SUITE_P(
    Pins, CardPin,
    ::testing::Values(PinCase{"Wrong", 0, "9999", 0, static_cast<DWORD>(SCARD_W_WRONG_CHV)},
                      PinCase{"Blocked", 0, kPin, 3, static_cast<DWORD>(SCARD_W_CHV_BLOCKED)},
                      PinCase{"SilentWithoutPin", CRYPT_SILENT, nullptr, 0, NTE_SILENT_CONTEXT}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(KeyUse, PublicKeyComesFromTheBoundCertificate) {
  PrepareCard(0x6400);
  HCRYPTPROV provider = Acquire(kReference);
  ASSERT_TRUE(SetPin(provider, kPin, PP_ADMIN_PIN));
  CKeyHandle key;
  ASSERT_TRUE(CryptGetUserKey(provider, AT_SIGNATURE, key.Receive()));
  EXPECT_EQ(testpki::KeyParam(key.Get(), KP_KEYLEN), 1024u);
  EXPECT_EQ(testpki::KeyParam(key.Get(), KP_ALGID), CALG_RSA_SIGN);
  BYTE blob[600];
  DWORD size = sizeof blob;
  SetLastError(0);
  EXPECT_FALSE(CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, blob, &size));
  EXPECT_EQ(GetLastError(), NTE_BAD_KEY_STATE);
  const Bytes der = CertificateDer();
  ASSERT_TRUE(CryptSetKeyParam(key.Get(), KP_CERTIFICATE, der.data(), 0));
  key.Reset();

  // A new context reads the certificate back from the card.
  provider = Acquire(kReference);
  ASSERT_TRUE(CryptGetUserKey(provider, AT_SIGNATURE, key.Receive()));
  size = sizeof blob;
  ASSERT_TRUE(CryptExportKey(key.Get(), 0, PUBLICKEYBLOB, 0, blob, &size))
      << std::hex << GetLastError();
  CProviderContext software;
  ASSERT_TRUE(CryptAcquireContextA(software.Receive(), nullptr, nullptr, PROV_RSA_FULL,
                                   CRYPT_VERIFYCONTEXT));
  CKeyHandle imported;
  ASSERT_TRUE(CryptImportKey(software.Get(), blob, size, 0, 0, imported.Receive()));
  BYTE exported[600];
  DWORD exportedSize = sizeof exported;
  ASSERT_TRUE(CryptExportKey(imported.Get(), 0, PUBLICKEYBLOB, 0, exported, &exportedSize));
  const BioPtr bio(BIO_new(BIO_s_mem()));
  ASSERT_GT(i2b_PublicKey_bio(bio.get(), testpki::Key(1024)), 0);
  char* expected = nullptr;
  const long expectedSize = BIO_get_mem_data(bio.get(), &expected);
  // The modulus and exponent are the key's (past the 8-byte header).
  ASSERT_EQ(static_cast<long>(size), expectedSize);
  EXPECT_EQ(Bytes(blob + 8, blob + size), Bytes(expected + 8, expected + expectedSize));
}

}  // namespace
}  // namespace orvelcsp_test
