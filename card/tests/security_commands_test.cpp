// The card's security operations: MANAGE SECURITY ENVIRONMENT and PERFORM
// SECURITY OPERATION byte for byte, their status words, and results equal to
// OpenSSL's for the same key.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>

#include "card/crypto_card.h"
#include "fake_card_fixture.h"
#include "installation_support.h"
#include "test_pki.h"

namespace card_test {
namespace {

constexpr BYTE kRef = 0x20;

struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// DigestInfo prefixes of PKCS#1 v1.5.
const Bytes kSha1Prefix = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                           0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
const Bytes kSha256Prefix = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                             0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const Bytes kMd5Prefix = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                          0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};

// head followed by tail.
Bytes Cat(const Bytes& head, const Bytes& tail) {
  Bytes all;
  all.reserve(head.size() + tail.size());
  all.insert(all.end(), head.begin(), head.end());
  all.insert(all.end(), tail.begin(), tail.end());
  return all;
}

class SecurityCommands : public FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    card_ = AddReaderWithCard("Lector 0");
    key_ = testpki::Key(1024, 3);
    card_->PutKey(kRef, cardsim::KeyRole::Signature, CardKeyOf(key_));
    card_->PutKey(kRef + 1, cardsim::KeyRole::Exchange, CardKeyOf(key_));
    object_ = std::make_unique<CCryptoCard>(Connect("Lector 0"));
    ASSERT_EQ(object_->VerifyPin("1234"), SCARD_S_SUCCESS);
    StartCounting();
  }

  WORD Sign(const Bytes& digestInfo, Bytes* signature = nullptr) {
    Bytes out(kModulusBytes);
    object_->ComputeSignature(digestInfo, std::span<BYTE, kModulusBytes>(out.data(), out.size()));
    if (signature) *signature = out;
    return object_->StepSucceeded() ? WORD{0x9000} : object_->Sw();
  }
  WORD Decipher(const Bytes& cryptogram, Bytes* plain = nullptr) {
    std::vector<BYTE> out;
    object_->Decipher(std::span<const BYTE, kModulusBytes>(cryptogram.data(), kModulusBytes),
                      &out);
    if (plain) *plain = out;
    return object_->StepSucceeded() ? WORD{0x9000} : object_->Sw();
  }
  // A raw command to the card, its status word.
  WORD Raw(const Bytes& apdu) {
    const Bytes answer = card_->Transmit(apdu);
    return static_cast<WORD>(answer[answer.size() - 2] << 8 | answer.back());
  }
  Bytes Encrypt(const Bytes& plain, int padding = RSA_PKCS1_PADDING) {
    PkeyCtx ctx(EVP_PKEY_CTX_new(key_, nullptr));
    size_t length = kModulusBytes;
    Bytes out(length);
    EXPECT_EQ(EVP_PKEY_encrypt_init(ctx.get()), 1);
    EXPECT_GT(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding), 0);
    EXPECT_EQ(EVP_PKEY_encrypt(ctx.get(), out.data(), &length, plain.data(), plain.size()), 1);
    return out;
  }

  std::shared_ptr<cardsim::VirtualCard> card_;
  EVP_PKEY* key_ = nullptr;
  std::unique_ptr<CCryptoCard> object_;
};

struct DigestCase {
  const char* name;
  const EVP_MD* (*md)();
  const Bytes* prefix;
};

class CardSignature : public SecurityCommands,
                      public ::testing::WithParamInterface<DigestCase> {};

TEST_P(CardSignature, EqualsOpenSslsAndTravelsAsTheseCommands) {
  const DigestCase& c = GetParam();
  const Bytes data = {'f', 'i', 'r', 'm', 'a'};
  Bytes digest(EVP_MD_get_size(c.md()));
  ASSERT_EQ(EVP_Digest(data.data(), data.size(), digest.data(), nullptr, c.md(), nullptr), 1);
  const Bytes digestInfo = Cat(*c.prefix, digest);

  PkeyCtx ctx(EVP_PKEY_CTX_new(key_, nullptr));
  size_t length = kModulusBytes;
  Bytes expected(length);
  ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
  ASSERT_GT(EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING), 0);
  ASSERT_GT(EVP_PKEY_CTX_set_signature_md(ctx.get(), c.md()), 0);
  ASSERT_EQ(EVP_PKEY_sign(ctx.get(), expected.data(), &length, digest.data(), digest.size()), 1);

  ASSERT_EQ(object_->SetSecurityEnvironment(true, kRef), SCARD_S_SUCCESS);
  Bytes signature;
  ASSERT_EQ(Sign(digestInfo, &signature), 0x9000);
  EXPECT_EQ(signature, expected);

  const Bytes pso = Cat({0x00, 0x2A, 0x9E, 0x9A, static_cast<BYTE>(digestInfo.size())}, digestInfo);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{{0x00, 0x22, 0x41, 0xB6, 0x03, 0x84, 0x01, kRef},
                                            pso,
                                            {0x00, 0xC0, 0x00, 0x00, 0x80}}));
  EXPECT_TRUE(std::all_of(object_->CommandBuffer().begin(), object_->CommandBuffer().end(),
                          [](BYTE b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Digests, CardSignature,
                         ::testing::Values(DigestCase{"sha1", EVP_sha1, &kSha1Prefix},
                                           DigestCase{"sha256", EVP_sha256, &kSha256Prefix},
                                           DigestCase{"md5", EVP_md5, &kMd5Prefix}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(SecurityCommands, DeciphersOpenSslCryptograms) {
  for (const Bytes& plain : {Bytes{0x42}, Bytes(117, 0x5A), Bytes{}}) {
    const Bytes cryptogram = Encrypt(plain);
    StartCounting();
    ASSERT_EQ(object_->SetSecurityEnvironment(false, kRef + 1), SCARD_S_SUCCESS);
    Bytes got;
    ASSERT_EQ(Decipher(cryptogram, &got), 0x9000) << plain.size();
    EXPECT_EQ(got, plain);
    const Bytes pso = Cat({0x00, 0x2A, 0x80, 0x86, 0x81, 0x00}, cryptogram);
    const auto commands = Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], (Bytes{0x00, 0x22, 0x41, 0xB8, 0x03, 0x84, 0x01, BYTE(kRef + 1)}));
    EXPECT_EQ(commands[1], pso);
    if (!plain.empty()) {
      EXPECT_EQ(commands.at(2), (Bytes{0x00, 0xC0, 0x00, 0x00, BYTE(plain.size())}));
    }
  }
}

TEST_F(SecurityCommands, StatusWordsOfTheCard) {
  const Bytes digestInfo(35, 0x11);
  // Keys only in their own role.
  EXPECT_EQ(object_->SetSecurityEnvironment(false, kRef), SCARD_S_SUCCESS);
  EXPECT_EQ(object_->Sw(), 0x6A88);
  EXPECT_EQ(object_->SetSecurityEnvironment(true, kRef + 1), SCARD_S_SUCCESS);
  EXPECT_EQ(object_->Sw(), 0x6A88);
  EXPECT_EQ(object_->SetSecurityEnvironment(true, 0x40), SCARD_S_SUCCESS);
  EXPECT_EQ(object_->Sw(), 0x6A88);
  // No environment of the matching kind.
  EXPECT_EQ(Sign(digestInfo), 0x6985);
  ASSERT_EQ(object_->SetSecurityEnvironment(false, kRef + 1), SCARD_S_SUCCESS);
  EXPECT_EQ(object_->Sw(), 0x9000);
  EXPECT_EQ(Sign(digestInfo), 0x6985);
  // Bad data: a cryptogram not of type 2, one with too few padding bytes.
  Bytes raw(kModulusBytes, 0x00);
  raw[1] = 0x01;
  raw.back() = 0x01;
  EXPECT_EQ(Decipher(Encrypt(raw, RSA_NO_PADDING)), 0x6A80);
  Bytes shortPadding(kModulusBytes, 0x33);
  shortPadding[0] = 0x00;
  shortPadding[1] = 0x02;
  shortPadding[9] = 0x00;  // seven padding bytes
  EXPECT_EQ(Decipher(Encrypt(shortPadding, RSA_NO_PADDING)), 0x6A80);
  // What the library refuses to send, the card refuses too.
  ASSERT_EQ(object_->SetSecurityEnvironment(true, kRef), SCARD_S_SUCCESS);
  StartCounting();
  EXPECT_EQ(object_->ComputeSignature(Bytes(118, 1), std::span<BYTE, kModulusBytes>(raw.data(), 128)),
            SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(object_->ComputeSignature({}, std::span<BYTE, kModulusBytes>(raw.data(), 128)),
            SCARD_E_INVALID_PARAMETER);
  EXPECT_TRUE(Commands().empty());
  const Bytes overlong = Cat({0x00, 0x2A, 0x9E, 0x9A, 118}, Bytes(118, 0x01));
  EXPECT_EQ(Raw(overlong), 0x6A80);
  EXPECT_EQ(Raw({0x00, 0x2A, 0x9E, 0x9A, 0x00}), 0x6A80);
  EXPECT_EQ(Raw({0x00, 0x2A, 0x9E, 0x9B, 0x01, 0x00}), 0x6A86);
  EXPECT_EQ(Raw({0x00, 0x22, 0x81, 0xB6, 0x03, 0x84, 0x01, kRef}), 0x6A86);
  EXPECT_EQ(Raw({0x00, 0x22, 0x41, 0xA4, 0x03, 0x84, 0x01, kRef}), 0x6A86);
  EXPECT_EQ(Raw({0x00, 0x22, 0x41, 0xB6, 0x03, 0x83, 0x01, kRef}), 0x6A80);
}

TEST_F(SecurityCommands, ResetForgetsThePinAndTheEnvironment) {
  const Bytes digestInfo(35, 0x11);
  ASSERT_EQ(object_->SetSecurityEnvironment(true, kRef), SCARD_S_SUCCESS);
  card_->Reset();
  EXPECT_EQ(Sign(digestInfo), 0x6982);
  ASSERT_EQ(object_->VerifyPin("1234"), SCARD_S_SUCCESS);
  EXPECT_EQ(Sign(digestInfo), 0x6985);
  ASSERT_EQ(object_->SetSecurityEnvironment(true, kRef), SCARD_S_SUCCESS);
  EXPECT_EQ(Sign(digestInfo), 0x9000);
}

}  // namespace
}  // namespace card_test
