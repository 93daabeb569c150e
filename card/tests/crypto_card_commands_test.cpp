// CCryptoCard's transport and commands against the virtual card, checked
// byte for byte in the fake resource manager's trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "card/crypto_card.h"
#include "fake_card_fixture.h"
#include "support/card_records.h"

namespace card_test {
namespace {

const Bytes kSelectMasterFile = {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's',
                                 't',  'e',  'r',  '.',  'F',  'i', 'l', 'e'};
const Bytes kSelectCryptoDf = {0x00, 0xA4, 0x04, 0x00, 0x0A, 'I', 'C', 'C',
                               '.',  'C',  'r',  'y',  'p',  't', 'o'};
const Bytes kGetChipInfo = {0x90, 0xB8, 0x00, 0x00, 0x12};

class CryptoCardCommands : public FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    m_card = AddReaderWithCard("Lector 0", {{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}});
    m_handle = Connect("Lector 0");
    m_object = std::make_unique<CCryptoCard>(m_handle);
    StartCounting();
  }

  // Prints the commands seen, for failure messages.
  static std::string Dump(const std::vector<Bytes>& commands) {
    std::string text;
    for (const Bytes& c : commands) {
      for (auto b : c) text += "0123456789ABCDEF"[b >> 4], text += "0123456789ABCDEF"[b & 15];
      text += '\n';
    }
    return text;
  }

  std::shared_ptr<cardsim::VirtualCard> m_card;
  SCARDHANDLE m_handle = 0;
  std::unique_ptr<CCryptoCard> m_object;
};

// --- Transport -----------------------------------------------------------

TEST_F(CryptoCardCommands, PendingAnswerIsFetchedWithOneGetResponse) {
  EXPECT_EQ(m_object->SelectByName(kMasterFileName), SCARD_S_SUCCESS);
  const auto trace = fakepcsc::Trace();
  ASSERT_EQ(trace.size(), 2u) << Dump(Commands());
  EXPECT_EQ(trace[0].command, kSelectMasterFile);
  ASSERT_EQ(trace[0].answer.size(), 2u);
  ASSERT_EQ(trace[0].answer[0], 0x61);
  EXPECT_EQ(trace[1].command, (Bytes{0x00, 0xC0, 0x00, 0x00, trace[0].answer[1]}));
  EXPECT_EQ(m_object->Sw(), 0x9000);
}

TEST_F(CryptoCardCommands, SelectionsWithoutFciAreOneCommandEach) {
  // P2 0C: the status word alone, no GET RESPONSE, and no size to tell.
  EXPECT_EQ(m_object->SelectByName(kCryptoDfName, CCryptoCard::Fci::NotReturned), SCARD_S_SUCCESS);
  EXPECT_EQ(m_object->SelectFile(0x3F11, CCryptoCard::Fci::NotReturned), SCARD_S_SUCCESS);
  EXPECT_EQ(m_object->Sw(), 0x9000);
  EXPECT_FALSE(m_object->SelectedFileSize());
  Bytes byName = kSelectCryptoDf;
  byName[3] = 0x0C;
  ASSERT_EQ(Commands(), (std::vector<Bytes>{byName, {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x11}}))
      << Dump(Commands());
  // With the FCI, the EF's size comes from it.
  StartCounting();
  EXPECT_EQ(m_object->SelectApplication(0x6004), SCARD_S_SUCCESS);
  EXPECT_EQ(m_object->SelectedFileSize(), std::optional<DWORD>(1024));

  // The object directory read without FCI: three selections and the read.
  StartCounting();
  CCryptoCard lean(m_handle, CCryptoCard::Fci::NotReturned);
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 4u) << Dump(commands);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(commands[i][3], 0x0C) << Dump(commands);
  EXPECT_EQ(commands[3], (Bytes{0x00, 0xB0, 0x00, 0x00, 0x28}));
  EXPECT_EQ(lean.DirectoryFiles(), m_object->DirectoryFiles());
}

TEST_F(CryptoCardCommands, GetResponseAfter611AAndItsStatusWordIsKept) {
  fakepcsc::AnswerStatusAt(1, 0x611A);
  fakepcsc::AnswerStatusAt(2, 0x6A82);
  EXPECT_EQ(m_object->SelectFile(0x6001), SCARD_S_SUCCESS);
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], (Bytes{0x00, 0xA4, 0x00, 0x00, 0x02, 0x60, 0x01}));
  EXPECT_EQ(commands[1], (Bytes{0x00, 0xC0, 0x00, 0x00, 0x1A}));
  EXPECT_EQ(m_object->Sw(), 0x6A82);
  EXPECT_EQ(m_object->Sw1(), 0x6A);
  EXPECT_EQ(m_object->Sw2(), 0x82);
}

TEST_F(CryptoCardCommands, OnlyOneGetResponsePerCommand) {
  fakepcsc::AnswerStatusAt(1, 0x611A);
  fakepcsc::AnswerStatusAt(2, 0x6105);
  m_object->SelectFile(0x6001);
  EXPECT_EQ(fakepcsc::TransmitCount(), 2u);
  EXPECT_EQ(m_object->Sw(), 0x6105);
}

TEST_F(CryptoCardCommands, WrongLengthIsRecordedAndNotResent) {
  fakepcsc::AnswerStatusAt(1, 0x6C12);
  CardSerial serial{};
  EXPECT_EQ(m_object->GetSerialNumber(&serial), SCARD_S_SUCCESS);
  EXPECT_EQ(fakepcsc::TransmitCount(), 1u);
  EXPECT_EQ(m_object->Sw(), 0x6C12);
  EXPECT_FALSE(m_object->StepSucceeded());
}

TEST_F(CryptoCardCommands, TransportFailureLeavesItsCodeAndNoStatusWord) {
  m_object->SelectFile(0x6001);  // leaves 9000 behind
  fakepcsc::ClearFaults();
  fakepcsc::FailTransmitAt(1, SCARD_E_COMM_DATA_LOST);
  EXPECT_EQ(m_object->SelectFile(0x6001), SCARD_E_COMM_DATA_LOST);
  EXPECT_EQ(m_object->LastResult(), SCARD_E_COMM_DATA_LOST);
  EXPECT_EQ(m_object->Sw(), 0);
  EXPECT_EQ(m_object->Sw1(), 0);
}

// --- SELECT, READ BINARY, UPDATE BINARY ----------------------------------

TEST_F(CryptoCardCommands, SelectByNameSendsTheBytesWithoutTerminator) {
  m_object->SelectByName(kPkcs15ApplicationId.data(), 12);
  const Bytes expected = {0x00, 0xA4, 0x04, 0x00, 0x0C, 0xA0, 0x00, 0x00, 0x00,
                          'c',  'P',  'K',  'C',  'S',  '-',  '1',  '5'};
  ASSERT_FALSE(Commands().empty());
  EXPECT_EQ(Commands()[0], expected);
}

TEST_F(CryptoCardCommands, OverlongNamesAreRefusedUnsent) {
  const std::string fits(251, 'A');
  const std::string tooLong(252, 'A');
  EXPECT_EQ(m_object->SelectByName(tooLong.c_str()), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
  EXPECT_EQ(m_object->Sw(), 0);
  m_object->SelectByName(fits.c_str());
  ASSERT_GE(Commands().size(), 1u);
  EXPECT_EQ(Commands()[0].size(), 256u);
  EXPECT_EQ(Commands()[0][4], 0xFB);
}

TEST_F(CryptoCardCommands, ReadBinaryOf300BytesInThreeChunks) {
  Bytes content(1024);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(m_card->WriteFile({kApplicationDf, 0x6001}, content));
  ASSERT_EQ(m_object->SelectApplication(0x6001), SCARD_S_SUCCESS);
  StartCounting();

  Bytes buffer(300);
  WORD got = 0;
  EXPECT_EQ(m_object->ReadBinary(0, 300, buffer.data(), &got), SCARD_S_SUCCESS);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{{0x00, 0xB0, 0x00, 0x00, 0x80},
                                            {0x00, 0xB0, 0x00, 0x80, 0x80},
                                            {0x00, 0xB0, 0x01, 0x00, 0x2C}}));
  EXPECT_EQ(got, 300);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin()));
}

TEST_F(CryptoCardCommands, ReadBinaryStopsAtTheFirstRefusedChunk) {
  ASSERT_EQ(m_object->SelectApplication(0x6001), SCARD_S_SUCCESS);
  StartCounting();
  fakepcsc::AnswerStatusAt(2, 0x6B00);
  Bytes buffer(300, 0xEE);
  WORD got = 0;
  EXPECT_EQ(m_object->ReadBinary(0, 300, buffer.data(), &got), SCARD_S_SUCCESS);
  EXPECT_EQ(fakepcsc::TransmitCount(), 2u);
  EXPECT_EQ(m_object->Sw(), 0x6B00);
  EXPECT_EQ(got, 128);
  EXPECT_EQ(buffer[128], 0xEE);
}

TEST_F(CryptoCardCommands, ReadBinaryWithoutDestinationOnlyFetches) {
  ASSERT_EQ(m_object->SelectApplication(0x6001), SCARD_S_SUCCESS);
  StartCounting();
  WORD got = 0;
  EXPECT_EQ(m_object->ReadBinary(0x10, 4, nullptr, &got), SCARD_S_SUCCESS);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{{0x00, 0xB0, 0x00, 0x10, 0x04}}));
  EXPECT_EQ(got, 4);
}

TEST_F(CryptoCardCommands, UpdateBinaryOf85BytesIsOneCommand) {
  ASSERT_EQ(m_object->VerifyPin("1234"), SCARD_S_SUCCESS);
  ASSERT_EQ(m_object->SelectApplication(0x6001), SCARD_S_SUCCESS);
  StartCounting();
  Bytes record(85);
  for (std::size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(0x30 + i);
  EXPECT_EQ(m_object->UpdateBinary(0, 85, record.data()), SCARD_S_SUCCESS);
  EXPECT_EQ(m_object->Sw(), 0x9000);
  Bytes expected = {0x00, 0xD6, 0x00, 0x00, 0x55};
  expected.insert(expected.end(), record.begin(), record.end());
  EXPECT_EQ(Commands(), std::vector<Bytes>{expected});
  const auto file = m_card->ReadFile({kApplicationDf, 0x6001});
  ASSERT_TRUE(file);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), file->begin()));
}

TEST_F(CryptoCardCommands, UpdateBinaryChunksAndStopsAtTheFirstRefusal) {
  ASSERT_EQ(m_object->VerifyPin("1234"), SCARD_S_SUCCESS);
  ASSERT_EQ(m_object->SelectApplication(0x6001), SCARD_S_SUCCESS);
  StartCounting();
  fakepcsc::AnswerStatusAt(2, 0x6581);
  const Bytes data(300, 0x5A);
  EXPECT_EQ(m_object->UpdateBinary(0x20, 300, data.data()), SCARD_S_SUCCESS);
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(Bytes(commands[0].begin(), commands[0].begin() + 5),
            (Bytes{0x00, 0xD6, 0x00, 0x20, 0x80}));
  EXPECT_EQ(Bytes(commands[1].begin(), commands[1].begin() + 5),
            (Bytes{0x00, 0xD6, 0x00, 0xA0, 0x80}));
  EXPECT_EQ(m_object->Sw(), 0x6581);
}

TEST_F(CryptoCardCommands, OffsetsThatWouldAddressByShortIdentifierAreRefused) {
  Bytes buffer(16);
  EXPECT_EQ(m_object->ReadBinary(0x7FF8, 16, buffer.data()), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(m_object->UpdateBinary(0x8000, 1, buffer.data()), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(m_object->UpdateBinary(0, 4, nullptr), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

// --- PIN -----------------------------------------------------------------

TEST_F(CryptoCardCommands, VerifySendsThePinAsTypedAndWipesIt) {
  m_object->SelectByName(kMasterFileName);
  m_object->SelectByName(kCryptoDfName);
  StartCounting();
  EXPECT_EQ(m_object->Verify("1234"), SCARD_S_SUCCESS);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{{0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'}}));
  EXPECT_EQ(m_object->Sw(), 0x9000);
  for (BYTE b : m_object->CommandBuffer()) ASSERT_EQ(b, 0);
}

TEST_F(CryptoCardCommands, EmptyPinIsTheFiveByteCommand) {
  m_object->Verify("");
  EXPECT_EQ(Commands(), (std::vector<Bytes>{{0x00, 0x20, 0x00, 0x00, 0x00}}));
}

TEST_F(CryptoCardCommands, VerifyPinSelectsThenVerifies) {
  EXPECT_EQ(m_object->VerifyPin("1234"), SCARD_S_SUCCESS);
  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 5u) << Dump(commands);
  EXPECT_EQ(commands[0], kSelectMasterFile);
  EXPECT_EQ(commands[2], kSelectCryptoDf);
  EXPECT_EQ(commands[4], (Bytes{0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'}));
  EXPECT_TRUE(m_card->PinVerified());
}

TEST_F(CryptoCardCommands, WrongPinGivesInvalidParameter) {
  EXPECT_EQ(m_object->VerifyPin("9999"), static_cast<LONG>(0x80100004));
  EXPECT_EQ(m_object->LastResult(), static_cast<LONG>(0x80100004));
  EXPECT_EQ(m_object->Sw1(), 0x63);
  EXPECT_EQ(m_object->Sw2() & 0xF0, 0xC0);
  EXPECT_FALSE(m_card->PinVerified());
  EXPECT_EQ(m_card->PinTriesLeft(), 2);
}

TEST_F(CryptoCardCommands, RefusedSelectionIsNeverAnAcceptedPin) {
  fakepcsc::AnswerStatusAt(1, 0x6A82);  // "Master.File"
  const LONG masterRefused = m_object->VerifyPin("1234");
  EXPECT_NE(masterRefused, SCARD_S_SUCCESS);
  EXPECT_EQ(m_object->LastResult(), masterRefused);
  EXPECT_EQ(fakepcsc::TransmitCount(), 1u);

  StartCounting();
  fakepcsc::AnswerStatusAt(3, 0x6A82);  // "ICC.Crypto", after SELECT and GET RESPONSE
  EXPECT_NE(m_object->VerifyPin("1234"), SCARD_S_SUCCESS);
  EXPECT_EQ(fakepcsc::TransmitCount(), 3u);
  EXPECT_FALSE(m_card->PinVerified());
}

TEST_F(CryptoCardCommands, TransportFailureDuringVerifyPinIsReturned) {
  fakepcsc::FailTransmitAt(1, SCARD_W_REMOVED_CARD);
  EXPECT_EQ(m_object->VerifyPin("1234"), SCARD_W_REMOVED_CARD);
  EXPECT_EQ(fakepcsc::TransmitCount(), 1u);
}

TEST_F(CryptoCardCommands, OverlongPinIsRefusedUnsent) {
  const std::string tooLong(252, '1');
  EXPECT_NE(m_object->VerifyPin(tooLong.c_str()), SCARD_S_SUCCESS);
  for (const Bytes& c : Commands()) EXPECT_NE(c[1], 0x20) << "VERIFY was sent";
  StartCounting();
  EXPECT_EQ(m_object->Verify(tooLong.c_str()), SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
  EXPECT_EQ(m_object->Verify(nullptr), SCARD_E_INVALID_PARAMETER);

  const std::string longest(251, '1');
  m_object->Verify(longest.c_str());
  ASSERT_EQ(Commands().size(), 1u);
  EXPECT_EQ(Commands()[0][4], 0xFB);
  EXPECT_EQ(Commands()[0].size(), 256u);
}

// --- Chip information, serial, erase --------------------------------------

TEST_F(CryptoCardCommands, GetChipInfoAsksTheCardOnce) {
  ChipInfo first{};
  ChipInfo second{};
  EXPECT_EQ(m_object->GetChipInfo(&first), SCARD_S_SUCCESS);
  EXPECT_EQ(m_object->GetChipInfo(&second), SCARD_S_SUCCESS);
  EXPECT_EQ(m_object->GetChipInfo(nullptr), SCARD_S_SUCCESS);
  EXPECT_EQ(Commands(), std::vector<Bytes>{kGetChipInfo});
  const Bytes expected = m_card->ChipInfo();
  EXPECT_TRUE(std::equal(first.begin(), first.end(), expected.begin(), expected.end()));
  EXPECT_EQ(first, second);
}

TEST_F(CryptoCardCommands, GetChipInfoKeepsNothingFromARefusalOrShortAnswer) {
  fakepcsc::AnswerStatusAt(1, 0x6D00);
  fakepcsc::AnswerStatusAt(2, 0x9000);  // no data at all
  ChipInfo info;
  info.fill(0xEE);
  m_object->GetChipInfo(&info);
  EXPECT_EQ(info, ChipInfo{});  // the empty cache
  m_object->GetChipInfo(&info);
  EXPECT_EQ(info, ChipInfo{});
  m_object->GetChipInfo(&info);
  EXPECT_EQ(fakepcsc::TransmitCount(), 3u);
  EXPECT_EQ(info[kCardSerialOffset], 0x01);
}

TEST_F(CryptoCardCommands, GetSerialNumberTakesBytes10To15) {
  CardSerial serial{};
  EXPECT_EQ(m_object->GetSerialNumber(&serial), SCARD_S_SUCCESS);
  EXPECT_EQ(serial, (CardSerial{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB}));
  m_object->GetSerialNumber(&serial);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{kGetChipInfo, kGetChipInfo}));  // never cached
}

// An answer of other than 18 data bytes does not carry the serial: a failure
// that leaves the buffer untouched.
class SerialFromAWrongAnswer : public CryptoCardCommands,
                               public ::testing::WithParamInterface<std::size_t> {};

TEST_P(SerialFromAWrongAnswer, FailsAndLeavesTheBuffer) {
  Bytes answer(GetParam(), 0x55);
  answer.insert(answer.end(), {0x90, 0x00});
  fakepcsc::ReplaceAnswerAt(1, answer);
  CardSerial serial;
  serial.fill(0xEE);
  EXPECT_NE(m_object->GetSerialNumber(&serial), SCARD_S_SUCCESS);
  EXPECT_FALSE(m_object->StepSucceeded());
  EXPECT_EQ(serial, (CardSerial{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

INSTANTIATE_TEST_SUITE_P(DataBytes, SerialFromAWrongAnswer, ::testing::Values(0u, 10u, 17u, 19u));

TEST_F(CryptoCardCommands, EraseKeyBytes) {
  m_object->EraseKey(0x21);
  EXPECT_EQ(Commands(), (std::vector<Bytes>{{0x90, 0x54, 0x40, 0x21, 0x00}}));
}

}  // namespace
}  // namespace card_test
