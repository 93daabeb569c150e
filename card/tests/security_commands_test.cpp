// The card computing with its keys: MANAGE SECURITY ENVIRONMENT and PERFORM
// SECURITY OPERATION byte for byte with every status word, and signatures and
// plaintexts against OpenSSL's for the same key.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>

#include "card/crypto_card.h"
#include "fake_card_fixture.h"
#include "installation_support.h"
#include "test_pki.h"

namespace card_test {
namespace {

constexpr BYTE kReference = 0x21;
const Bytes kMseSign = {0x00, 0x22, 0x41, 0xB6, 0x03, 0x84, 0x01, kReference};
const Bytes kMseDecipher = {0x00, 0x22, 0x41, 0xB8, 0x03, 0x84, 0x01, kReference};

// DigestInfo prefixes of PKCS#1 v1.5.
const Bytes kSha1Prefix = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                           0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
const Bytes kSha256Prefix = {0x30, 0x31, 0x30, 0x0D, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                             0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const Bytes kMd5Prefix = {0x30, 0x20, 0x30, 0x0C, 0x06, 0x08, 0x2A, 0x86, 0x48,
                          0x86, 0xF7, 0x0D, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};

Bytes DigestInfo(const EVP_MD* md, const Bytes& prefix, const std::string& text) {
  Bytes digest(EVP_MD_get_size(md));
  unsigned int size = 0;
  EXPECT_EQ(EVP_Digest(text.data(), text.size(), digest.data(), &size, md, nullptr), 1);
  Bytes out = prefix;
  out.insert(out.end(), digest.begin(), digest.end());
  return out;
}

using testpki::OpenSslEncrypt;
using testpki::OpenSslSign;

// A card holding one key under kReference: in the signature role, the
// exchange role or both, as the installation writes it.
class SecurityCommands : public FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    m_card = AddReaderWithCard("Lector 0");
    m_object = std::make_unique<CCryptoCard>(Connect("Lector 0"));
  }

  void WriteKey(bool exchange, bool signature) {
    ASSERT_EQ(m_object->VerifyPin("1234"), SCARD_S_SUCCESS);
    using Modulus = std::span<const BYTE, kModulusBytes>;
    using Part = std::span<const BYTE, kPrimeBytes>;
    const PrivateKeyBlob& b = m_material.blob;
    for (const bool role : {false, true}) {
      if (!(role ? signature : exchange)) continue;
      ASSERT_TRUE(m_object->WritePublicKey(role, kReference, Modulus(b.Modulus(), kModulusBytes),
                                           b.PublicExponent()));
      ASSERT_TRUE(m_object->WritePrivateKey(
          role, kReference, Part(b.Prime1(), kPrimeBytes), Part(b.Prime2(), kPrimeBytes),
          Part(b.Coefficient(), kPrimeBytes), Part(b.Exponent1(), kPrimeBytes),
          Part(b.Exponent2(), kPrimeBytes)));
    }
    StartCounting();
  }

  Bytes Sign(const Bytes& digestInfo) {
    Bytes signature(kModulusBytes);
    m_object->ComputeSignature(digestInfo,
                               std::span<BYTE, kModulusBytes>(signature.data(), kModulusBytes));
    return signature;
  }
  LONG Decipher(const Bytes& cryptogram, std::vector<BYTE>* plaintext) {
    return m_object->Decipher(
        std::span<const BYTE, kModulusBytes>(cryptogram.data(), kModulusBytes), plaintext);
  }
  static bool AllZero(std::span<const BYTE> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](BYTE b) { return b == 0; });
  }

  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<CCryptoCard> m_object;
  KeyMaterial m_material{testpki::Key(1024)};
};

TEST_F(SecurityCommands, SignaturesEqualOpenSslsForEachDigest) {
  WriteKey(true, true);
  const struct {
    const EVP_MD* md;
    const Bytes& prefix;
  } digests[] = {{EVP_sha1(), kSha1Prefix}, {EVP_sha256(), kSha256Prefix}, {EVP_md5(), kMd5Prefix}};
  for (const auto& d : digests) {
    const Bytes digestInfo = DigestInfo(d.md, d.prefix, "Firmado con la tarjeta");
    StartCounting();
    ASSERT_EQ(m_object->SetSecurityEnvironment(true, kReference), SCARD_S_SUCCESS);
    const Bytes signature = Sign(digestInfo);
    EXPECT_TRUE(m_object->StepSucceeded());
    EXPECT_EQ(signature, OpenSslSign(m_material.key, nullptr, digestInfo))
        << EVP_MD_get0_name(d.md);
    Bytes pso = {0x00, 0x2A, 0x9E, 0x9A, static_cast<BYTE>(digestInfo.size())};
    pso.insert(pso.end(), digestInfo.begin(), digestInfo.end());
    EXPECT_EQ(Commands(), (std::vector<Bytes>{kMseSign, pso, {0x00, 0xC0, 0x00, 0x00, 0x80}}));
    EXPECT_TRUE(AllZero(m_object->CommandBuffer()));
  }
}

TEST_F(SecurityCommands, DecipherGivesOpenSslsPlaintext) {
  WriteKey(true, false);
  for (const Bytes& plaintext : {Bytes{0x42}, Bytes(48, 0x5A), Bytes(117, 0x01)}) {
    const Bytes cryptogram = OpenSslEncrypt(m_material.key, plaintext);
    StartCounting();
    ASSERT_EQ(m_object->SetSecurityEnvironment(false, kReference), SCARD_S_SUCCESS);
    std::vector<BYTE> got;
    EXPECT_EQ(Decipher(cryptogram, &got), SCARD_S_SUCCESS);
    EXPECT_TRUE(m_object->StepSucceeded());
    EXPECT_EQ(got, plaintext);
    Bytes pso = {0x00, 0x2A, 0x80, 0x86, 0x81, 0x00};
    pso.insert(pso.end(), cryptogram.begin(), cryptogram.end());
    EXPECT_EQ(
        Commands(),
        (std::vector<Bytes>{
            kMseDecipher, pso, {0x00, 0xC0, 0x00, 0x00, static_cast<BYTE>(plaintext.size())}}));
    EXPECT_TRUE(AllZero(m_object->CommandBuffer()));
  }
}

// Each refusal, with the command that draws it.
struct RefusalCase {
  const char* name;
  bool exchangeKey, signatureKey;  // which roles the card holds under 21
  bool verified;                   // PIN verified before the command
  int mse;                         // 0 none, 1 for a signature, 2 for deciphering
  Bytes command;                   // sent as it is ({} : a signature of 35 bytes)
  WORD sw;
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class SecurityRefusals : public SecurityCommands,
                         public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SecurityRefusals, AnswerTheirStatusWord) {
  const RefusalCase& c = GetParam();
  WriteKey(c.exchangeKey, c.signatureKey);
  if (!c.verified) m_card->Reset();
  if (c.mse != 0) m_object->SetSecurityEnvironment(c.mse == 1, kReference);
  StartCounting();
  if (c.command.empty()) {
    Sign(Bytes(35, 0x11));
  } else {
    Bytes command = c.command;
    SCARDHANDLE handle = m_object->CardHandle();
    BYTE answer[258];
    DWORD length = sizeof answer;
    ASSERT_EQ(SCardTransmit(handle, SCARD_PCI_T0, command.data(),
                            static_cast<DWORD>(command.size()), nullptr, answer, &length),
              SCARD_S_SUCCESS);
    ASSERT_EQ(length, 2u);
    EXPECT_EQ(static_cast<WORD>(answer[0] << 8 | answer[1]), c.sw);
    return;
  }
  EXPECT_EQ(m_object->Sw(), c.sw);
  EXPECT_FALSE(m_object->StepSucceeded());
  EXPECT_EQ(Commands().size(), 1u) << "no GET RESPONSE after a refusal";
}

Bytes Pso(BYTE p1, BYTE p2, Bytes data) {
  Bytes c = {0x00, 0x2A, p1, p2, static_cast<BYTE>(data.size())};
  c.insert(c.end(), data.begin(), data.end());
  return c;
}
Bytes Cryptogram(BYTE first, BYTE fill) {
  Bytes data(129, fill);
  data[0] = first;
  data[1] = 0x00;  // below the modulus
  return data;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SecurityRefusals,
    ::testing::Values(
        RefusalCase{"SignWithoutPin", true, true, false, 1, {}, 0x6982},
        RefusalCase{"SignWithoutEnvironment", true, true, true, 0, {}, 0x6985},
        RefusalCase{"SignAfterDecipherEnvironmentOnly", true, true, true, 2, {}, 0x6985},
        RefusalCase{"ExchangeKeyAskedToSign", true, false, true, 0, kMseSign, 0x6A88},
        RefusalCase{"SignatureKeyAskedToDecipher", false, true, true, 0, kMseDecipher, 0x6A88},
        RefusalCase{"EnvironmentWithoutKeyReferenceObject",
                    true,
                    true,
                    true,
                    0,
                    {0x00, 0x22, 0x41, 0xB6, 0x03, 0x83, 0x01, kReference},
                    0x6A80},
        RefusalCase{"EnvironmentOtherP1",
                    true,
                    true,
                    true,
                    0,
                    {0x00, 0x22, 0x81, 0xB6, 0x03, 0x84, 0x01, kReference},
                    0x6A86},
        RefusalCase{"EnvironmentOtherTemplate",
                    true,
                    true,
                    true,
                    0,
                    {0x00, 0x22, 0x41, 0xA4, 0x03, 0x84, 0x01, kReference},
                    0x6A86},
        RefusalCase{"PsoOtherP1P2", true, true, true, 1, Pso(0x9E, 0x9B, {0x01}), 0x6A86},
        RefusalCase{
            "EmptySignatureInput", true, true, true, 1, {0x00, 0x2A, 0x9E, 0x9A, 0x00}, 0x6A80},
        RefusalCase{"OverlongSignatureInput", true, true, true, 1, Pso(0x9E, 0x9A, Bytes(118, 1)),
                    0x6A80},
        RefusalCase{"DecipherWithoutPin", true, true, false, 2, Pso(0x80, 0x86, Cryptogram(0, 7)),
                    0x6982},
        RefusalCase{"DecipherWithoutEnvironment", true, true, true, 1,
                    Pso(0x80, 0x86, Cryptogram(0, 7)), 0x6985},
        RefusalCase{"DecipherOfAShortCryptogram", true, true, true, 2,
                    Pso(0x80, 0x86, Bytes(128, 0)), 0x6A80},
        RefusalCase{"DecipherWithPaddingIndicator01", true, true, true, 2,
                    Pso(0x80, 0x86, Cryptogram(1, 7)), 0x6A80},
        RefusalCase{"DecipherOfANonType2Cryptogram", true, true, true, 2,
                    Pso(0x80, 0x86, Cryptogram(0, 7)), 0x6A80}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(SecurityCommands, FewerThanEightPaddingBytesIsWrongData) {
  WriteKey(true, false);
  // Type 2 with seven padding bytes, made with the public key alone.
  Bytes block(128, 0x00);
  block[1] = 0x02;
  std::fill(block.begin() + 2, block.begin() + 9, 0x33);
  block[9] = 0x00;
  std::fill(block.begin() + 10, block.end(), 0x44);
  m_object->SetSecurityEnvironment(false, kReference);
  std::vector<BYTE> plaintext = {0xEE};
  Decipher(OpenSslEncrypt(m_material.key, block, RSA_NO_PADDING), &plaintext);
  EXPECT_EQ(m_object->Sw(), 0x6A80);
  EXPECT_EQ(plaintext, (std::vector<BYTE>{0xEE}));
  // With eight it is taken.
  block[9] = 0x33;
  block[10] = 0x00;
  EXPECT_EQ(Decipher(OpenSslEncrypt(m_material.key, block, RSA_NO_PADDING), &plaintext),
            SCARD_S_SUCCESS);
  EXPECT_EQ(plaintext, std::vector<BYTE>(117, 0x44));
}

TEST_F(SecurityCommands, ResetForgetsTheEnvironment) {
  WriteKey(true, true);
  ASSERT_EQ(m_object->SetSecurityEnvironment(true, kReference), SCARD_S_SUCCESS);
  ASSERT_TRUE(m_object->StepSucceeded());
  m_card->Reset();
  ASSERT_EQ(m_object->VerifyPin("1234"), SCARD_S_SUCCESS);
  Sign(Bytes(35, 0x11));
  EXPECT_EQ(m_object->Sw(), 0x6985);
}

TEST_F(SecurityCommands, InputsOutOfRangeAreRefusedUnsent) {
  WriteKey(true, true);
  Bytes signature(kModulusBytes);
  const std::span<BYTE, kModulusBytes> out(signature.data(), kModulusBytes);
  EXPECT_EQ(m_object->ComputeSignature({}, out), SCARD_E_INVALID_PARAMETER);
  const Bytes overlong(CCryptoCard::kMaxSignatureInput + 1, 0x01);
  EXPECT_EQ(m_object->ComputeSignature(overlong, out), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(Decipher(Bytes(128, 0), nullptr), SCARD_E_INVALID_PARAMETER);
  EXPECT_FALSE(m_object->StepSucceeded());
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

}  // namespace
}  // namespace card_test
