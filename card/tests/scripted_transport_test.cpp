// Answers no card gives: CCryptoCard over a transport that plays back
// scripted answers, to see that the object never takes more than it asked
// for or than its buffer holds. This program is its own PC/SC library.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "card/crypto_card.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct ScriptedAnswer {
  Bytes bytes;
  DWORD claimedLength = 0;  // when nonzero, the length reported instead of the real one
};

std::deque<ScriptedAnswer> g_answers;
std::vector<Bytes> g_commands;

}  // namespace

extern "C" {

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};

LONG SCardTransmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE send, DWORD sendLength,
                   SCARD_IO_REQUEST*, LPBYTE receive, LPDWORD receiveLength) {
  g_commands.emplace_back(send, send + sendLength);
  ScriptedAnswer answer = {{0x6A, 0x82}, 0};
  if (!g_answers.empty()) {
    answer = g_answers.front();
    g_answers.pop_front();
  }
  const DWORD n = std::min<DWORD>(static_cast<DWORD>(answer.bytes.size()), *receiveLength);
  std::copy_n(answer.bytes.begin(), n, receive);
  *receiveLength = answer.claimedLength != 0 ? answer.claimedLength : n;
  return SCARD_S_SUCCESS;
}

}  // extern "C"

namespace {

Bytes DataThen9000(std::size_t n, std::uint8_t value) {
  Bytes b(n, value);
  b.push_back(0x90);
  b.push_back(0x00);
  return b;
}

class ScriptedCard : public ::testing::Test {
 protected:
  void SetUp() override {
    g_answers.clear();
    g_commands.clear();
    // The object directory cannot be read: the master file is refused.
    g_answers.push_back({{0x6A, 0x82}});
    m_card = std::make_unique<CCryptoCard>(1);
    g_commands.clear();
  }
  std::unique_ptr<CCryptoCard> m_card;
};

TEST_F(ScriptedCard, MoreDataThanAskedForIsNotTaken) {
  g_answers.push_back({DataThen9000(0x80, 0x11)});
  g_answers.push_back({DataThen9000(0x90, 0x22)});  // asked for 0x80
  std::vector<std::uint8_t> destination(0x100 + 16, 0xEE);
  WORD got = 0;
  EXPECT_NE(m_card->ReadBinary(0, 0x100, destination.data(), &got), SCARD_S_SUCCESS);
  EXPECT_EQ(got, 0x80);
  EXPECT_EQ(destination[0x7F], 0x11);
  EXPECT_EQ(destination[0x80], 0xEE);
  EXPECT_EQ(g_commands.size(), 2u);
}

TEST_F(ScriptedCard, LengthClaimedBeyondTheBufferIsATransportError) {
  g_answers.push_back({{0x90, 0x00}, 300});
  EXPECT_EQ(m_card->SelectFile(0x6001), SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(m_card->Sw(), 0);
}

TEST_F(ScriptedCard, ShortChunkIsTakenAndReadingGoesOn) {
  g_answers.push_back({DataThen9000(0x10, 0x33)});
  g_answers.push_back({DataThen9000(0x04, 0x44)});
  std::vector<std::uint8_t> destination(0x14);
  WORD got = 0;
  EXPECT_EQ(m_card->ReadBinary(0x100, 0x14, destination.data(), &got), SCARD_S_SUCCESS);
  EXPECT_EQ(got, 0x14);
  ASSERT_EQ(g_commands.size(), 2u);
  EXPECT_EQ(g_commands[1], (Bytes{0x00, 0xB0, 0x01, 0x10, 0x04}));
  EXPECT_EQ(destination[0x13], 0x44);
}

TEST_F(ScriptedCard, ChunkWithoutDataEndsTheRead) {
  g_answers.push_back({{0x90, 0x00}});
  WORD got = 7;
  EXPECT_EQ(m_card->ReadBinary(0, 0x40, nullptr, &got), SCARD_S_SUCCESS);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(g_commands.size(), 1u);
}

TEST_F(ScriptedCard, ZeroLengthSendsNothing) {
  EXPECT_EQ(m_card->ReadBinary(0, 0, nullptr), SCARD_S_SUCCESS);
  const BYTE data = 0;
  EXPECT_EQ(m_card->UpdateBinary(0, 0, &data), SCARD_S_SUCCESS);
  EXPECT_TRUE(g_commands.empty());
}

TEST_F(ScriptedCard, IncompleteChipInfoIsNotCached) {
  g_answers.push_back({DataThen9000(10, 0x55)});
  g_answers.push_back({DataThen9000(18, 0x66)});
  ChipInfo info{};
  m_card->GetChipInfo(&info);
  EXPECT_EQ(info, ChipInfo{});
  m_card->GetChipInfo(&info);
  EXPECT_EQ(info[17], 0x66);
  EXPECT_EQ(g_commands.size(), 2u);
}

TEST_F(ScriptedCard, SerialNeedsExactlyEighteenDataBytes) {
  CardSerial serial;
  serial.fill(0xEE);
  g_answers.push_back({DataThen9000(19, 0x55)});
  m_card->GetSerialNumber(&serial);
  EXPECT_EQ(serial[0], 0xEE);
  g_answers.push_back({DataThen9000(18, 0x66)});
  EXPECT_EQ(m_card->GetSerialNumber(&serial), SCARD_S_SUCCESS);
  EXPECT_EQ(serial, (CardSerial{0x66, 0x66, 0x66, 0x66, 0x66, 0x66}));
  g_answers.push_back({DataThen9000(18, 0x77)});
  EXPECT_EQ(m_card->GetSerialNumber(nullptr), SCARD_S_SUCCESS);
}

TEST_F(ScriptedCard, VerifyPinReportsRefusedSelectionsAsFileNotFound) {
  g_answers.push_back({{0x90, 0x00}});  // "Master.File"
  g_answers.push_back({{0x6A, 0x82}});  // "ICC.Crypto" refused
  EXPECT_EQ(m_card->VerifyPin("1234"), SCARD_E_FILE_NOT_FOUND);
  EXPECT_EQ(g_commands.size(), 2u);
}

}  // namespace
