// Signatures and decryption with the card's keys over the fake resource
// manager, checked against OpenSSL with the same keys.
#include <openssl/evp.h>

#include <thread>

#include "cardsim/fake_pcsc.h"
#include "token_card.h"

namespace p11_test {
namespace {

// The card with three keys, logged in.
class ModuleKeys : public ThreeKeyCardTest {
 protected:
  void SetUp() override {
    ThreeKeyCardTest::SetUp();
    ASSERT_EQ(Login(m_session), CKR_OK);
  }
  CK_OBJECT_HANDLE PrivateKey(CK_SESSION_HANDLE session, int index) {
    return FindOne(session, CKO_PRIVATE_KEY, m_token.keys.at(index).id);
  }
  // The signature, or the error, of one mechanism over data in one call or
  // in parts of at most partSize bytes.
  CK_RV Sign(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE type,
             const Bytes& data, std::size_t partSize, Bytes* signature) {
    CK_MECHANISM mechanism{type, nullptr, 0};
    if (CK_RV rv = m_module->C_SignInit(session, &mechanism, key); rv != CKR_OK) return rv;
    Bytes in = data;
    signature->assign(128, 0);
    CK_ULONG length = signature->size();
    CK_RV rv = CKR_OK;
    if (partSize == 0) {
      rv = m_module->C_Sign(session, in.data(), in.size(), signature->data(), &length);
    } else {
      for (std::size_t at = 0; at < in.size() && rv == CKR_OK; at += partSize) {
        rv = m_module->C_SignUpdate(session, in.data() + at, std::min(partSize, in.size() - at));
      }
      if (rv == CKR_OK) rv = m_module->C_SignFinal(session, signature->data(), &length);
    }
    signature->resize(rv == CKR_OK ? length : 0);
    return rv;
  }
};

struct SignCase {
  const char* name;
  CK_MECHANISM_TYPE mechanism;
  const EVP_MD* (*digest)();  // null: the data is signed as given
  std::size_t dataSize;
  std::size_t partSize;  // 0: C_Sign
};

class ModuleSignatures : public ModuleKeys, public ::testing::WithParamInterface<SignCase> {};

TEST_P(ModuleSignatures, EqualOpensslsWithTheSameKey) {
  const SignCase& c = GetParam();
  Bytes data(c.dataSize);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
  for (int index : {0, 2}) {
    SCOPED_TRACE(index);
    Bytes signature;
    ASSERT_EQ(
        Sign(m_session, PrivateKey(m_session, index), c.mechanism, data, c.partSize, &signature),
        CKR_OK);
    EXPECT_EQ(signature, OpensslSignature(m_token.keys[index].spec.which,
                                          c.digest == nullptr ? nullptr : c.digest(), data));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, ModuleSignatures,
    ::testing::Values(SignCase{"RawOneByte", CKM_RSA_PKCS, nullptr, 1, 0},
                      SignCase{"RawLongest", CKM_RSA_PKCS, nullptr, 117, 0},
                      SignCase{"RawInParts", CKM_RSA_PKCS, nullptr, 117, 50},
                      SignCase{"Sha256", CKM_SHA256_RSA_PKCS, EVP_sha256, 1000, 0},
                      SignCase{"Sha256InParts", CKM_SHA256_RSA_PKCS, EVP_sha256, 1000, 333},
                      SignCase{"Sha256Empty", CKM_SHA256_RSA_PKCS, EVP_sha256, 0, 0},
                      SignCase{"Sha1InParts", CKM_SHA1_RSA_PKCS, EVP_sha1, 64, 10},
                      SignCase{"Sha512", CKM_SHA512_RSA_PKCS, EVP_sha512, 200, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ModuleKeys, SignatureAfterLoginInAtMostSixCommands) {
  const CK_OBJECT_HANDLE key = PrivateKey(m_session, 0);
  TakeCommands();
  Bytes signature;
  ASSERT_EQ(Sign(m_session, key, CKM_SHA256_RSA_PKCS, Bytes{'h', 'o', 'l', 'a'}, 0, &signature),
            CKR_OK);
  const std::vector<Bytes> commands = TakeCommands();
  // The key chosen, the DigestInfo signed, the signature fetched (T=0): well
  // within the budget of 6, with no identity check or reading in between.
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0], Hex("002241B603840120"));
  EXPECT_EQ(Bytes(commands[1].begin(), commands[1].begin() + 5), Hex("002A9E9A33"));
  EXPECT_EQ(commands[2], Hex("00C0000080"));
}

TEST_F(ModuleKeys, RefusalsOfTheKeyTheDataAndTheCard) {
  Bytes signature;
  // An exchange-only key does not sign; a signature-only key does not decrypt.
  EXPECT_EQ(Sign(m_session, PrivateKey(m_session, 1), CKM_RSA_PKCS, Bytes{1}, 0, &signature),
            CKR_KEY_FUNCTION_NOT_PERMITTED);
  CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
  EXPECT_EQ(m_module->C_DecryptInit(m_session, &rsa, PrivateKey(m_session, 0)),
            CKR_KEY_FUNCTION_NOT_PERMITTED);
  // Longer than a PKCS#1 v1.5 block holds, in one call and in parts.
  EXPECT_EQ(Sign(m_session, PrivateKey(m_session, 0), CKM_RSA_PKCS, Bytes(118), 0, &signature),
            CKR_DATA_LEN_RANGE);
  EXPECT_EQ(Sign(m_session, PrivateKey(m_session, 0), CKM_RSA_PKCS, Bytes(118), 100, &signature),
            CKR_DATA_LEN_RANGE);
  // The card forgot the PIN (another program reset it): not logged in, nothing returned.
  m_token.card->Reset();
  EXPECT_EQ(Sign(m_session, PrivateKey(m_session, 0), CKM_RSA_PKCS, Bytes{1}, 0, &signature),
            CKR_USER_NOT_LOGGED_IN);
  EXPECT_TRUE(signature.empty());
  // No generator on the token: the standard's answer, not a failure.
  EXPECT_EQ(m_module->C_GenerateRandom(m_session, signature.data(), 0), CKR_RANDOM_NO_RNG);
  EXPECT_EQ(m_module->C_SeedRandom(m_session, signature.data(), 0), CKR_RANDOM_NO_RNG);
}

TEST_F(ModuleKeys, DecryptsOpensslsCryptogram) {
  const Bytes plain = Hex("0011223344556677889900AABBCCDDEEFF");
  for (int index : {1, 2}) {
    SCOPED_TRACE(index);
    Bytes cryptogram = OpensslCryptogram(m_token.keys[index].spec.which, plain);
    ASSERT_EQ(cryptogram.size(), 128u);
    CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(m_module->C_DecryptInit(m_session, &rsa, PrivateKey(m_session, index)), CKR_OK);
    CK_ULONG length = 0;
    ASSERT_EQ(
        m_module->C_Decrypt(m_session, cryptogram.data(), cryptogram.size(), nullptr, &length),
        CKR_OK);
    EXPECT_EQ(length, plain.size());
    Bytes out(length - 1);
    length = out.size();
    EXPECT_EQ(
        m_module->C_Decrypt(m_session, cryptogram.data(), cryptogram.size(), out.data(), &length),
        CKR_BUFFER_TOO_SMALL);
    out.resize(length);
    ASSERT_EQ(
        m_module->C_Decrypt(m_session, cryptogram.data(), cryptogram.size(), out.data(), &length),
        CKR_OK);
    EXPECT_EQ(out, plain);
  }
  // 1 deciphers to 1, a block without the padding: the card refuses it.
  Bytes foreign(128, 0x00);
  foreign.back() = 0x01;
  CK_MECHANISM rsa{CKM_RSA_PKCS, nullptr, 0};
  ASSERT_EQ(m_module->C_DecryptInit(m_session, &rsa, PrivateKey(m_session, 1)), CKR_OK);
  CK_ULONG length = 128;
  Bytes out(length);
  EXPECT_EQ(m_module->C_Decrypt(m_session, foreign.data(), foreign.size(), out.data(), &length),
            CKR_ENCRYPTED_DATA_INVALID);
}

TEST_F(ModuleKeys, TwoThreadsSignAtOnceInTwoSessions) {
  const CK_SESSION_HANDLE other = OpenSession(m_slot);
  const CK_OBJECT_HANDLE keys[2] = {PrivateKey(m_session, 0), PrivateKey(other, 2)};
  const CK_SESSION_HANDLE sessions[2] = {m_session, other};
  constexpr int kRounds = 8;
  std::vector<Bytes> signatures[2];
  CK_RV results[2][kRounds] = {};
  {
    std::jthread threads[2];
    for (int t = 0; t < 2; ++t) {
      threads[t] = std::jthread([&, t] {
        for (int round = 0; round < kRounds; ++round) {
          Bytes signature;
          results[t][round] = Sign(sessions[t], keys[t], CKM_SHA256_RSA_PKCS,
                                   Bytes(100 + round, static_cast<std::uint8_t>(t)), 7, &signature);
          signatures[t].push_back(std::move(signature));
        }
      });
    }
  }
  for (int t = 0; t < 2; ++t) {
    for (int round = 0; round < kRounds; ++round) {
      SCOPED_TRACE(testing::Message() << "thread " << t << " round " << round);
      ASSERT_EQ(results[t][round], CKR_OK);
      EXPECT_EQ(signatures[t][round],
                OpensslSignature(m_token.keys[t == 0 ? 0 : 2].spec.which, EVP_sha256(),
                                 Bytes(100 + round, static_cast<std::uint8_t>(t))));
    }
  }
}

}  // namespace
}  // namespace p11_test
