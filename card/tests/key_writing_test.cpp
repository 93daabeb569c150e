// Writing keys and their directory records with CCryptoCard, checked byte for
// byte in the fake resource manager's trace and in what the virtual card
// kept; and the key-container name.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "card/container_name.h"
#include "card/crypto_card.h"
#include "fake_card_fixture.h"
#include "support/card_records.h"

namespace card_test {
namespace {

// count bytes counting up from first, as the platform would hold them
// (little-endian).
Bytes Counting(std::size_t count, std::uint8_t first) {
  Bytes b(count);
  std::iota(b.begin(), b.end(), first);
  return b;
}

Bytes Reversed(Bytes b) {
  std::reverse(b.begin(), b.end());
  return b;
}

bool AllZero(std::span<const BYTE> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](BYTE b) { return b == 0; });
}

class KeyWriting : public FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    cardsim::CardSpec spec;
    spec.pukdfSize = m_pukdfSize;
    m_card = AddReaderWithCard("Lector 0", spec);
    m_object = std::make_unique<CCryptoCard>(Connect("Lector 0"));
    ASSERT_EQ(m_object->VerifyPin("1234"), SCARD_S_SUCCESS);
    StartCounting();
  }

  bool WritePublic(bool signature, BYTE reference, const Bytes& modulus, DWORD exponent) {
    return m_object->WritePublicKey(
        signature, reference, std::span<const BYTE, kModulusBytes>(modulus.data(), 128), exponent);
  }
  bool WritePrivate(bool signature, BYTE reference, const std::vector<Bytes>& parts) {
    using Part = std::span<const BYTE, kPrimeBytes>;
    return m_object->WritePrivateKey(signature, reference, Part(parts[0].data(), 64),
                                     Part(parts[1].data(), 64), Part(parts[2].data(), 64),
                                     Part(parts[3].data(), 64), Part(parts[4].data(), 64));
  }
  // prime1, prime2, coefficient, exponent1, exponent2: distinct values.
  static std::vector<Bytes> PrivateParts() {
    return {Counting(64, 0x10), Counting(64, 0x50), Counting(64, 0x90), Counting(64, 0xC0),
            Counting(64, 0x01)};
  }

  void PutRecords(std::uint16_t fid, const Bytes& records) {
    const auto current = m_card->ReadFile({kApplicationDf, fid});
    ASSERT_TRUE(current);
    ASSERT_TRUE(m_card->WriteFile({kApplicationDf, fid}, DirectoryFile(records, current->size())));
  }
  Bytes FileBytes(std::uint16_t fid) { return m_card->ReadFile({kApplicationDf, fid}).value(); }

  std::size_t m_pukdfSize = 1024;
  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<CCryptoCard> m_object;
};

// --- WRITE KEY PUBLIC PART ---------------------------------------------------

TEST_F(KeyWriting, PublicPartIsModulusReversedThenThreeExponentBytes) {
  const Bytes modulus = Counting(128, 0x00);
  ASSERT_TRUE(WritePublic(false, 0x21, modulus, 65537));
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], Join({{0x90, 0x50, 0x40, 0x21, 0x82, 0x14, 0x80}, Reversed(modulus)}));
  EXPECT_EQ(commands[0].size(), 135u);
  EXPECT_EQ(commands[1], (Bytes{0x90, 0x50, 0x40, 0x21, 0x05, 0x12, 0x03, 0x01, 0x00, 0x01}));
  EXPECT_TRUE(AllZero(m_object->CommandBuffer()));

  const auto stored = m_card->Key(0x21, cardsim::KeyRole::Exchange);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->modulus, Reversed(modulus));
  EXPECT_FALSE(m_card->Key(0x21, cardsim::KeyRole::Signature));
}

TEST_F(KeyWriting, ExponentThreeIsSent030000InTheSignatureRole) {
  ASSERT_TRUE(WritePublic(true, 0x40, Counting(128, 0x33), 3));
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(Bytes(commands[0].begin(), commands[0].begin() + 5),
            (Bytes{0x90, 0x50, 0x80, 0x40, 0x82}));
  EXPECT_EQ(commands[1], (Bytes{0x90, 0x50, 0x80, 0x40, 0x05, 0x12, 0x03, 0x03, 0x00, 0x00}));
  EXPECT_EQ(m_card->Key(0x40, cardsim::KeyRole::Signature)->exponent, (Bytes{0x03, 0x00, 0x00}));
}

TEST_F(KeyWriting, RefusedModulusSendsNoExponentAndLeavesTheBufferZero) {
  fakepcsc::AnswerStatusAt(1, 0x6982);
  EXPECT_FALSE(WritePublic(false, 0x21, Counting(128, 0x07), 65537));
  EXPECT_EQ(fakepcsc::TransmitCount(), 1u);
  EXPECT_EQ(m_object->Sw(), 0x6982);
  EXPECT_TRUE(AllZero(m_object->CommandBuffer()));
}

TEST_F(KeyWriting, RefusedExponentIsAFailure) {
  fakepcsc::AnswerStatusAt(2, 0x6A80);
  EXPECT_FALSE(WritePublic(false, 0x21, Counting(128, 0x07), 65537));
  EXPECT_EQ(fakepcsc::TransmitCount(), 2u);
  EXPECT_TRUE(AllZero(m_object->CommandBuffer()));
}

// --- WRITE KEY PRIVATE PART --------------------------------------------------

TEST_F(KeyWriting, PrivatePartsGoInTagOrderEachReversed) {
  const auto parts = PrivateParts();
  ASSERT_TRUE(WritePrivate(true, 0x20, parts));
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 5u);
  const BYTE tags[] = {0x02, 0x04, 0x06, 0x08, 0x0A};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(commands[i],
              Join({{0x90, 0x52, 0x80, 0x20, 0x42, tags[i], 0x40}, Reversed(parts[i])}))
        << "part " << i;
  }
  EXPECT_TRUE(AllZero(m_object->CommandBuffer()));

  const auto stored = m_card->Key(0x20, cardsim::KeyRole::Signature);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->prime1, Reversed(parts[0]));
  EXPECT_EQ(stored->prime2, Reversed(parts[1]));
  EXPECT_EQ(stored->coefficient, Reversed(parts[2]));
  EXPECT_EQ(stored->exponent1, Reversed(parts[3]));
  EXPECT_EQ(stored->exponent2, Reversed(parts[4]));
}

TEST_F(KeyWriting, PrivateWriteStopsAtTheThirdRefusal) {
  fakepcsc::AnswerStatusAt(3, 0x6A80);
  EXPECT_FALSE(WritePrivate(false, 0x20, PrivateParts()));
  EXPECT_EQ(fakepcsc::TransmitCount(), 3u);
  EXPECT_TRUE(AllZero(m_object->CommandBuffer()));
}

TEST_F(KeyWriting, TransportFailureEndsThePrivateWrite) {
  fakepcsc::FailTransmitAt(1, SCARD_E_COMM_DATA_LOST);
  EXPECT_FALSE(WritePrivate(false, 0x20, PrivateParts()));
  EXPECT_EQ(fakepcsc::TransmitCount(), 1u);
  EXPECT_EQ(m_object->LastResult(), SCARD_E_COMM_DATA_LOST);
  EXPECT_TRUE(AllZero(m_object->CommandBuffer()));
}

// --- Directory records ---------------------------------------------------

TEST_F(KeyWriting, RecordsAreAppendedAfterTheExistingOnes) {
  const KeyId existing = MakeKeyId(0x40);
  PutRecords(kPrkdf, PrivateKeyRecord(0x20, existing));
  PutRecords(kPukdf, PublicKeyRecord(0x20, existing));
  m_object = std::make_unique<CCryptoCard>(m_object->CardHandle());
  StartCounting();

  const KeyId id = MakeKeyId(0xA0);
  ASSERT_TRUE(m_object->AddKeyDirectoryEntries(0x21, id, 0x2000));
  EXPECT_TRUE(m_object->StepSucceeded());

  const Bytes prkdf = FileBytes(kPrkdf);
  const Bytes pukdf = FileBytes(kPukdf);
  EXPECT_EQ(Bytes(prkdf.begin(), prkdf.begin() + 170),
            Join({PrivateKeyRecord(0x20, existing), PrivateKeyRecord(0x21, id)}));
  EXPECT_EQ(Bytes(pukdf.begin(), pukdf.begin() + 170),
            Join({PublicKeyRecord(0x20, existing), PublicKeyRecord(0x21, id, 0x2000)}));
  EXPECT_EQ(pukdf[85 + 37], 0x20);
  EXPECT_EQ(pukdf[85 + 38], 0x00);
  EXPECT_TRUE(AllZero({prkdf.data() + 170, prkdf.size() - 170}));

  // Each record goes out in one UPDATE BINARY at the end of its directory.
  std::vector<Bytes> updates;
  for (const Bytes& c : Commands()) {
    if (c.size() > 4 && c[0] == 0x00 && c[1] == 0xD6) updates.push_back(c);
  }
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(Bytes(updates[0].begin(), updates[0].begin() + 5),
            (Bytes{0x00, 0xD6, 0x00, 0x55, 0x55}));
  EXPECT_EQ(Bytes(updates[1].begin(), updates[1].begin() + 5),
            (Bytes{0x00, 0xD6, 0x00, 0x55, 0x55}));
}

TEST_F(KeyWriting, FullPrivateKeyDirectoryWritesNothing) {
  // Twelve records fill 1020 of the 1024 bytes: a thirteenth does not fit.
  Bytes records;
  for (BYTE r = 0; r < 12; ++r) records = Join({records, PrivateKeyRecord(r, MakeKeyId(r))});
  PutRecords(kPrkdf, records);
  const Bytes pukdfBefore = FileBytes(kPukdf);
  StartCounting();

  EXPECT_FALSE(m_object->AddKeyDirectoryEntries(0x20, MakeKeyId(0x70), 0x6400));
  EXPECT_FALSE(m_object->StepSucceeded());
  EXPECT_EQ(FileBytes(kPukdf), pukdfBefore);
  const Bytes prkdf = FileBytes(kPrkdf);
  EXPECT_EQ(Bytes(prkdf.begin(), prkdf.begin() + 1020), records);
}

TEST_F(KeyWriting, UnreadableDirectoryIsAFailureNotASuccess) {
  // A record header with an indefinite length cannot be followed; the
  // walk's last command was still answered 9000.
  PutRecords(kPrkdf, {0x30, 0x80, 0x00, 0x00});
  StartCounting();
  EXPECT_FALSE(m_object->AddKeyDirectoryEntries(0x20, MakeKeyId(0x70), 0x6400));
  EXPECT_FALSE(m_object->StepSucceeded());
  for (const Bytes& c : Commands()) EXPECT_NE(c[1], 0xD6) << "nothing is written";
}

class KeyWritingSmallPukdf : public KeyWriting {
 protected:
  void SetUp() override {
    m_pukdfSize = 100;
    KeyWriting::SetUp();
  }
};

TEST_F(KeyWritingSmallPukdf, PublicRecordThatDoesNotFitLeavesBothDirectoriesAsTheyWere) {
  const KeyId existing = MakeKeyId(0x40);
  PutRecords(kPrkdf, PrivateKeyRecord(0x20, existing));
  PutRecords(kPukdf, PublicKeyRecord(0x20, existing));  // 85 of 100 bytes
  StartCounting();

  EXPECT_FALSE(m_object->AddKeyDirectoryEntries(0x21, MakeKeyId(0xA0), 0x6400));
  // The card's refusal of the public record is what the caller sees.
  EXPECT_EQ(m_object->LastResult(), SCARD_S_SUCCESS);
  EXPECT_NE(m_object->Sw(), 0x9000);
  // The private-key directory ends after the old record again.
  const Bytes prkdf = FileBytes(kPrkdf);
  EXPECT_EQ(Bytes(prkdf.begin(), prkdf.begin() + 85), PrivateKeyRecord(0x20, existing));
  EXPECT_TRUE(AllZero({prkdf.data() + 85, prkdf.size() - 85}));
  EXPECT_EQ(FileBytes(kPukdf), DirectoryFile(PublicKeyRecord(0x20, existing), 100));

  KeyReferenceMap map{};
  CCryptoCard fresh(m_object->CardHandle());
  ASSERT_EQ(fresh.ScanKeyReferences(&map), 1);
  EXPECT_EQ(map[0x21], 0) << "the reference reads as free again";
  EXPECT_NE(map[0x20], 0);
}

// --- Container name --------------------------------------------------------

TEST(ContainerName, SerialRoleWordReferenceAndKeyPath) {
  const CardSerial serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
  EXPECT_EQ(FormatContainerName(serial, 0x6400, 0x20), "0123456789AB640020\\3F11\\3F77\\");
  EXPECT_EQ(FormatContainerName(serial, 0x6400, 0x20).size(), 29u);
  EXPECT_EQ(FormatContainerName({0xFE, 0x0A, 0, 0, 0, 0x0F}, 0x2000, 0xFF),
            "FE0A0000000F2000FF\\3F11\\3F77\\");
  EXPECT_EQ(FormatContainerName(serial, 0x4400, 0x21), "0123456789AB440021\\3F11\\3F77\\");
}

}  // namespace
}  // namespace card_test
