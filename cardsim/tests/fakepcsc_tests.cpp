// The fake PC/SC library: contexts, reader lists, connections, faults, the
// trace and SCardGetStatusChange.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "cardsim_test_support.h"

namespace cardsim_test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> SplitMulti(const char* multi) {
  std::vector<std::string> out;
  for (const char* p = multi; *p; p += std::strlen(p) + 1) out.emplace_back(p);
  return out;
}

class FakePcsc : public ::testing::Test {
 protected:
  void SetUp() override { fakepcsc::Reset(); }
  void TearDown() override {
    if (m_context) SCardReleaseContext(m_context);
    fakepcsc::Reset();
  }
  SCARDCONTEXT Context() {
    if (!m_context) {
      EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_context),
                SCARD_S_SUCCESS);
    }
    return m_context;
  }
  std::shared_ptr<cardsim::VirtualCard> NewCard() {
    return cardsim::VirtualCard::MakeFresh(TestSpec());
  }
  LONG Connect(const std::string& reader, SCARDHANDLE* h, DWORD share = SCARD_SHARE_SHARED) {
    DWORD protocol = 0;
    return SCardConnect(Context(), reader.c_str(), share, SCARD_PROTOCOL_T0, h, &protocol);
  }
  LONG Transmit(SCARDHANDLE h, const Bytes& cmd, Bytes* answer = nullptr) {
    BYTE recv[258];
    DWORD len = sizeof recv;
    LONG rv = SCardTransmit(h, SCARD_PCI_T0, cmd.data(), static_cast<DWORD>(cmd.size()), nullptr,
                            recv, &len);
    if (answer) *answer = rv == SCARD_S_SUCCESS ? Bytes(recv, recv + len) : Bytes{};
    return rv;
  }
  SCARDCONTEXT m_context = 0;
};

const Bytes kSelectMf = SelectName(kMasterFileName);
const Bytes kChipInfo = {0x90, 0xB8, 0x00, 0x00, 0x12};

// ----------------------------------------------------------------- contexts

TEST_F(FakePcsc, ContextsInBothScopes) {
  SCARDCONTEXT a = 0, b = 0;
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &a), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &b), SCARD_S_SUCCESS);
  EXPECT_NE(a, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(SCardIsValidContext(a), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardReleaseContext(a), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardIsValidContext(a), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(SCardReleaseContext(a), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(SCardReleaseContext(b), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, nullptr),
            SCARD_E_INVALID_PARAMETER);
}

TEST_F(FakePcsc, ContextCreationFailsPerScope) {
  SCARDCONTEXT c = 0;
  fakepcsc::FailEstablishContext(true, false);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c), SCARD_E_NO_SERVICE);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardReleaseContext(c), SCARD_S_SUCCESS);
  fakepcsc::FailEstablishContext(false, true);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c), SCARD_E_NO_SERVICE);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardReleaseContext(c), SCARD_S_SUCCESS);
  fakepcsc::FailEstablishContext(true, true);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c), SCARD_E_NO_SERVICE);
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c), SCARD_E_NO_SERVICE);
  fakepcsc::Reset();
  EXPECT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardReleaseContext(c), SCARD_S_SUCCESS);
}

// ----------------------------------------------------------------- reader lists

TEST_F(FakePcsc, NoReaders) {
  char* list = nullptr;
  DWORD len = SCARD_AUTOALLOCATE;
  EXPECT_EQ(SCardListReaders(Context(), nullptr, reinterpret_cast<LPSTR>(&list), &len),
            SCARD_E_NO_READERS_AVAILABLE);
  EXPECT_EQ(list, nullptr);
  char buffer[64];
  len = sizeof buffer;
  EXPECT_EQ(SCardListReaders(Context(), nullptr, buffer, &len), SCARD_E_NO_READERS_AVAILABLE);
}

TEST_F(FakePcsc, SeventeenReadersInOrder) {
  std::vector<std::string> names;
  for (int i = 0; i < 17; ++i) {
    names.push_back("Virtual Reader " + std::to_string(i));
    fakepcsc::AddReader(names.back());
  }
  EXPECT_THROW(fakepcsc::AddReader("one too many"), std::length_error);
  EXPECT_THROW(fakepcsc::AddReader(names[3]), std::invalid_argument);

  char* list = nullptr;
  DWORD len = SCARD_AUTOALLOCATE;
  ASSERT_EQ(SCardListReaders(Context(), nullptr, reinterpret_cast<LPSTR>(&list), &len),
            SCARD_S_SUCCESS);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(SplitMulti(list), names);
  DWORD expected = 1;
  for (const auto& n : names) expected += static_cast<DWORD>(n.size() + 1);
  EXPECT_EQ(len, expected);
  EXPECT_EQ(list[len - 1], '\0');
  EXPECT_EQ(list[len - 2], '\0');
  EXPECT_EQ(SCardFreeMemory(Context(), list), SCARD_S_SUCCESS);

  // Size query, too small a buffer, a fitting buffer.
  DWORD needed = 0;
  EXPECT_EQ(SCardListReaders(Context(), nullptr, nullptr, &needed), SCARD_S_SUCCESS);
  EXPECT_EQ(needed, expected);
  std::vector<char> small(10);
  DWORD smallLen = 10;
  EXPECT_EQ(SCardListReaders(Context(), nullptr, small.data(), &smallLen),
            SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(smallLen, expected);
  std::vector<char> fit(expected);
  DWORD fitLen = expected;
  EXPECT_EQ(SCardListReaders(Context(), nullptr, fit.data(), &fitLen), SCARD_S_SUCCESS);
  EXPECT_EQ(SplitMulti(fit.data()), names);

  // A card in the last of them works like any other.
  fakepcsc::InsertCard(names[16], NewCard());
  SCARDHANDLE h = 0;
  ASSERT_EQ(Connect(names[16], &h), SCARD_S_SUCCESS);
  Bytes answer;
  EXPECT_EQ(Transmit(h, kSelectMf, &answer), SCARD_S_SUCCESS);
  EXPECT_EQ(answer, (Bytes{0x61, 0x16}));
}

TEST_F(FakePcsc, ListFailureAndInvalidContext) {
  fakepcsc::AddReader("R");
  fakepcsc::FailListReaders(SCARD_E_NO_SERVICE);
  char* list = nullptr;
  DWORD len = SCARD_AUTOALLOCATE;
  EXPECT_EQ(SCardListReaders(Context(), nullptr, reinterpret_cast<LPSTR>(&list), &len),
            SCARD_E_NO_SERVICE);
  EXPECT_EQ(list, nullptr);
  fakepcsc::FailListReaders(0);
  EXPECT_EQ(SCardListReaders(Context(), nullptr, reinterpret_cast<LPSTR>(&list), &len),
            SCARD_S_SUCCESS);
  SCardFreeMemory(Context(), list);
  len = SCARD_AUTOALLOCATE;
  EXPECT_EQ(SCardListReaders(12345, nullptr, reinterpret_cast<LPSTR>(&list), &len),
            SCARD_E_INVALID_HANDLE);
}

// ----------------------------------------------------------------- connections

TEST_F(FakePcsc, ConnectRefusals) {
  fakepcsc::AddReader("Empty");
  fakepcsc::AddReader("Held");
  fakepcsc::InsertCard("Held", NewCard());
  fakepcsc::SetHeldByOtherProgram("Held", true);
  SCARDHANDLE h = 0;
  EXPECT_EQ(Connect("Nowhere", &h), SCARD_E_UNKNOWN_READER);
  EXPECT_EQ(Connect("Empty", &h), SCARD_E_NO_SMARTCARD);
  EXPECT_EQ(Connect("Held", &h), SCARD_E_SHARING_VIOLATION);
  DWORD protocol = 0;
  EXPECT_EQ(SCardConnect(Context(), "Held", 7, SCARD_PROTOCOL_T0, &h, &protocol),
            SCARD_E_INVALID_VALUE);
  fakepcsc::SetHeldByOtherProgram("Held", false);
  EXPECT_EQ(SCardConnect(Context(), "Held", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h, &protocol),
            SCARD_E_PROTO_MISMATCH);
  EXPECT_EQ(SCardConnect(Context(), "Held", SCARD_SHARE_SHARED, SCARD_PROTOCOL_ANY, &h, &protocol),
            SCARD_S_SUCCESS);
  EXPECT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  // Ours shared: an exclusive connection is refused; ours exclusive: any other.
  SCARDHANDLE h2 = 0;
  EXPECT_EQ(Connect("Held", &h2, SCARD_SHARE_EXCLUSIVE), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(Connect("Held", &h2, SCARD_SHARE_SHARED), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardDisconnect(h, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardDisconnect(h2, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardDisconnect(h2, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE);
  EXPECT_EQ(Connect("Held", &h, SCARD_SHARE_EXCLUSIVE), SCARD_S_SUCCESS);
  EXPECT_EQ(Connect("Held", &h2), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(SCardDisconnect(h, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
}

TEST_F(FakePcsc, HeldByAnotherProgramShowsExclusive) {
  fakepcsc::AddReader("R");
  fakepcsc::InsertCard("R", NewCard());
  fakepcsc::SetHeldByOtherProgram("R", true);
  SCARD_READERSTATE rs{};
  rs.szReader = "R";
  rs.dwCurrentState = SCARD_STATE_UNAWARE;
  ASSERT_EQ(SCardGetStatusChange(Context(), 0, &rs, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(rs.dwEventState & 0xFFFF,
            static_cast<DWORD>(SCARD_STATE_CHANGED | SCARD_STATE_PRESENT | SCARD_STATE_EXCLUSIVE));
  // Our own shared connection shows INUSE.
  fakepcsc::SetHeldByOtherProgram("R", false);
  SCARDHANDLE h = 0;
  ASSERT_EQ(Connect("R", &h), SCARD_S_SUCCESS);
  rs.dwCurrentState = rs.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  ASSERT_EQ(SCardGetStatusChange(Context(), 0, &rs, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(rs.dwEventState & 0xFFFF,
            static_cast<DWORD>(SCARD_STATE_CHANGED | SCARD_STATE_PRESENT | SCARD_STATE_INUSE));
}

TEST_F(FakePcsc, TransmitChecks) {
  fakepcsc::AddReader("R");
  fakepcsc::InsertCard("R", NewCard());
  SCARDHANDLE h = 0;
  ASSERT_EQ(Connect("R", &h), SCARD_S_SUCCESS);
  BYTE recv[258];
  DWORD len = 10;  // the FCI answer (24 bytes) does not fit
  ASSERT_EQ(Transmit(h, kSelectMf), SCARD_S_SUCCESS);
  const Bytes getResponse = {0x00, 0xC0, 0x00, 0x00, 0x16};
  EXPECT_EQ(SCardTransmit(h, SCARD_PCI_T0, getResponse.data(), 5, nullptr, recv, &len),
            SCARD_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(len, 24u);
  len = sizeof recv;
  EXPECT_EQ(SCardTransmit(h, SCARD_PCI_T1, kChipInfo.data(), 5, nullptr, recv, &len),
            SCARD_E_PROTO_MISMATCH);
  EXPECT_EQ(SCardTransmit(h, SCARD_PCI_T0, kChipInfo.data(), 5, nullptr, recv, nullptr),
            SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(SCardTransmit(999, SCARD_PCI_T0, kChipInfo.data(), 5, nullptr, recv, &len),
            SCARD_E_INVALID_HANDLE);
  SCARD_IO_REQUEST recvPci{};
  len = sizeof recv;
  EXPECT_EQ(SCardTransmit(h, SCARD_PCI_T0, kChipInfo.data(), 5, &recvPci, recv, &len),
            SCARD_S_SUCCESS);
  EXPECT_EQ(len, 20u);
  EXPECT_EQ(recvPci.dwProtocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  // A caller may receive into the buffer it sent from: the trace keeps the
  // command as sent, not the answer that overwrote it.
  std::memcpy(recv, kChipInfo.data(), kChipInfo.size());
  len = sizeof recv;
  ASSERT_EQ(SCardTransmit(h, SCARD_PCI_T0, recv, 5, nullptr, recv, &len), SCARD_S_SUCCESS);
  const auto last = fakepcsc::Trace().back();
  EXPECT_EQ(last.command, kChipInfo);
  EXPECT_EQ(last.answer, Bytes(recv, recv + len));
}

TEST_F(FakePcsc, StatusReportsReaderAtrAndProtocol) {
  fakepcsc::AddReader("Reader A");
  fakepcsc::InsertCard("Reader A", NewCard());
  SCARDHANDLE h = 0;
  ASSERT_EQ(Connect("Reader A", &h), SCARD_S_SUCCESS);
  char* name = nullptr;
  DWORD nameLen = SCARD_AUTOALLOCATE, state = 0, protocol = 0;
  BYTE atr[MAX_ATR_SIZE];
  DWORD atrLen = sizeof atr;
  ASSERT_EQ(
      SCardStatus(h, reinterpret_cast<LPSTR>(&name), &nameLen, &state, &protocol, atr, &atrLen),
      SCARD_S_SUCCESS);
  EXPECT_STREQ(name, "Reader A");
  SCardFreeMemory(Context(), name);
  EXPECT_TRUE(state & SCARD_PRESENT);
  EXPECT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  EXPECT_EQ(Bytes(atr, atr + atrLen), cardsim::VirtualCard::Atr());
  fakepcsc::RemoveCard("Reader A");
  EXPECT_EQ(SCardStatus(h, nullptr, nullptr, &state, &protocol, nullptr, nullptr),
            SCARD_W_REMOVED_CARD);
}

TEST_F(FakePcsc, ResetByAnotherConnectionAndRemoval) {
  fakepcsc::AddReader("R");
  auto card = NewCard();
  fakepcsc::InsertCard("R", card);
  SCARDHANDLE a = 0, b = 0;
  ASSERT_EQ(Connect("R", &a), SCARD_S_SUCCESS);
  ASSERT_EQ(Connect("R", &b), SCARD_S_SUCCESS);
  ASSERT_EQ(SCardDisconnect(a, SCARD_RESET_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_W_RESET_CARD);
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_W_RESET_CARD);  // until reconnected
  DWORD protocol = 0;
  EXPECT_EQ(SCardReconnect(b, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, SCARD_LEAVE_CARD, &protocol),
            SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_S_SUCCESS);
  fakepcsc::RemoveCard("R");
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_W_REMOVED_CARD);
  fakepcsc::InsertCard("R", card);  // the same card back: the old handle stays dead
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_W_REMOVED_CARD);
  EXPECT_EQ(SCardDisconnect(b, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  ASSERT_EQ(Connect("R", &b), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_S_SUCCESS);
}

TEST_F(FakePcsc, TransactionsOfOneConnectionKeepOthersOut) {
  fakepcsc::AddReader("R");
  fakepcsc::InsertCard("R", NewCard());
  SCARDHANDLE a = 0, b = 0;
  ASSERT_EQ(Connect("R", &a), SCARD_S_SUCCESS);
  ASSERT_EQ(Connect("R", &b), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardBeginTransaction(a), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardBeginTransaction(b), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_E_SHARING_VIOLATION);
  EXPECT_EQ(Transmit(a, kChipInfo), SCARD_S_SUCCESS);
  EXPECT_EQ(SCardEndTransaction(b, SCARD_LEAVE_CARD), SCARD_E_NOT_TRANSACTED);
  EXPECT_EQ(SCardEndTransaction(a, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(b, kChipInfo), SCARD_S_SUCCESS);
}

// ----------------------------------------------------------------- faults and trace

class Faults : public FakePcsc {
 protected:
  void SetUp() override {
    FakePcsc::SetUp();
    fakepcsc::AddReader("R");
    m_card = NewCard();
    fakepcsc::InsertCard("R", m_card);
    ASSERT_EQ(Connect("R", &m_h), SCARD_S_SUCCESS);
  }
  std::shared_ptr<cardsim::VirtualCard> m_card;
  SCARDHANDLE m_h = 0;
};

TEST_F(Faults, TransportErrorAtTheNthCommand) {
  fakepcsc::FailTransmitAt(2, SCARD_F_COMM_ERROR);
  Bytes answer;
  EXPECT_EQ(Transmit(m_h, kSelectMf, &answer), SCARD_S_SUCCESS);
  const std::size_t asked = m_card->CommandCount();
  EXPECT_EQ(Transmit(m_h, kChipInfo, &answer), SCARD_F_COMM_ERROR);
  EXPECT_EQ(m_card->CommandCount(), asked);  // the card never saw it
  EXPECT_EQ(Transmit(m_h, kChipInfo, &answer), SCARD_S_SUCCESS);
  auto trace = fakepcsc::Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0].reader, "R");
  EXPECT_EQ(trace[0].command, kSelectMf);
  EXPECT_EQ(trace[0].answer, (Bytes{0x61, 0x16}));
  EXPECT_EQ(trace[0].result, SCARD_S_SUCCESS);
  EXPECT_EQ(trace[1].command, kChipInfo);
  EXPECT_TRUE(trace[1].answer.empty());
  EXPECT_EQ(trace[1].result, SCARD_F_COMM_ERROR);
  EXPECT_EQ(trace[2].answer.size(), 20u);
  EXPECT_EQ(fakepcsc::TransmitCount(), 3u);
  fakepcsc::ClearTrace();
  EXPECT_TRUE(fakepcsc::Trace().empty());
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(Faults, UntracedCommandsAreCountedAndFaultedButNotKept) {
  fakepcsc::SetTracing(false);
  fakepcsc::FailTransmitAt(2, SCARD_F_COMM_ERROR);
  Bytes answer;
  EXPECT_EQ(Transmit(m_h, kSelectMf, &answer), SCARD_S_SUCCESS);
  EXPECT_EQ(answer, (Bytes{0x61, 0x16}));
  EXPECT_EQ(Transmit(m_h, kChipInfo, &answer), SCARD_F_COMM_ERROR);
  EXPECT_TRUE(fakepcsc::Trace().empty());
  EXPECT_EQ(fakepcsc::TransmitCount(), 2u);
  fakepcsc::Reset();  // tracing is on again for the next user
  m_context = 0;
  fakepcsc::AddReader("R2");
  fakepcsc::InsertCard("R2", NewCard());
  SCARDHANDLE handle = 0;
  ASSERT_EQ(Connect("R2", &handle), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(handle, kSelectMf), SCARD_S_SUCCESS);
  ASSERT_EQ(fakepcsc::Trace().size(), 1u);
  EXPECT_EQ(fakepcsc::Trace()[0].reader, "R2");
}

TEST_F(Faults, ChosenStatusWordWithoutAskingTheCard) {
  fakepcsc::AnswerStatusAt(1, 0x6A82);
  const std::size_t asked = m_card->CommandCount();
  Bytes answer;
  EXPECT_EQ(Transmit(m_h, kSelectMf, &answer), SCARD_S_SUCCESS);
  EXPECT_EQ(answer, (Bytes{0x6A, 0x82}));
  EXPECT_EQ(m_card->CommandCount(), asked);
  EXPECT_EQ(Transmit(m_h, kSelectMf, &answer), SCARD_S_SUCCESS);
  EXPECT_EQ(answer, (Bytes{0x61, 0x16}));
  EXPECT_EQ(fakepcsc::Trace()[0].answer, (Bytes{0x6A, 0x82}));
}

TEST_F(Faults, CardRemovedBeforeTheNthCommand) {
  fakepcsc::RemoveCardAt(2);
  EXPECT_EQ(Transmit(m_h, kChipInfo), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(m_h, kChipInfo), SCARD_W_REMOVED_CARD);
  EXPECT_EQ(fakepcsc::CardIn("R"), nullptr);
  EXPECT_EQ(Transmit(m_h, kChipInfo), SCARD_W_REMOVED_CARD);
  auto trace = fakepcsc::Trace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[1].result, SCARD_W_REMOVED_CARD);
  EXPECT_TRUE(trace[1].answer.empty());
  SCARDHANDLE h2 = 0;
  EXPECT_EQ(Connect("R", &h2), SCARD_E_NO_SMARTCARD);
}

TEST_F(Faults, CardResetBeforeTheNthCommand) {
  // Verify the PIN, then the card is reset under us.
  ASSERT_EQ(Transmit(m_h, kSelectMf), SCARD_S_SUCCESS);
  ASSERT_EQ(Transmit(m_h, SelectName(kCryptoName)), SCARD_S_SUCCESS);
  Bytes answer;
  ASSERT_EQ(Transmit(m_h, {0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'}, &answer),
            SCARD_S_SUCCESS);
  ASSERT_EQ(answer, (Bytes{0x90, 0x00}));
  ASSERT_TRUE(m_card->PinVerified());
  fakepcsc::ResetCardAt(4);
  EXPECT_EQ(Transmit(m_h, {0x90, 0x54, 0x40, 0x20, 0x00}), SCARD_W_RESET_CARD);
  EXPECT_FALSE(m_card->PinVerified());
  EXPECT_EQ(Transmit(m_h, kChipInfo), SCARD_W_RESET_CARD);
  DWORD protocol = 0;
  ASSERT_EQ(SCardReconnect(m_h, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, SCARD_LEAVE_CARD, &protocol),
            SCARD_S_SUCCESS);
  ASSERT_EQ(Transmit(m_h, {0x90, 0x54, 0x40, 0x20, 0x00}, &answer), SCARD_S_SUCCESS);
  EXPECT_EQ(answer, (Bytes{0x69, 0x82}));
}

TEST_F(Faults, ClearFaultsRestartsTheCount) {
  fakepcsc::FailTransmitAt(1, SCARD_E_NOT_TRANSACTED);
  fakepcsc::ClearFaults();
  EXPECT_EQ(Transmit(m_h, kChipInfo), SCARD_S_SUCCESS);
  fakepcsc::ClearFaults();
  fakepcsc::FailTransmitAt(2, SCARD_E_NOT_TRANSACTED);
  EXPECT_EQ(Transmit(m_h, kChipInfo), SCARD_S_SUCCESS);
  EXPECT_EQ(Transmit(m_h, kChipInfo), SCARD_E_NOT_TRANSACTED);
}

// ----------------------------------------------------------------- status changes

TEST_F(FakePcsc, GetStatusChangeReportsAnInsertion) {
  fakepcsc::AddReader("R");
  SCARD_READERSTATE rs{};
  rs.szReader = "R";
  rs.dwCurrentState = SCARD_STATE_UNAWARE;
  ASSERT_EQ(SCardGetStatusChange(Context(), 0, &rs, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(rs.dwEventState, static_cast<DWORD>(SCARD_STATE_EMPTY | SCARD_STATE_CHANGED));
  EXPECT_EQ(rs.cbAtr, 0u);

  rs.dwCurrentState = rs.dwEventState;
  std::thread inserter([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fakepcsc::InsertCard("R", NewCard());
  });
  const auto start = Clock::now();
  const LONG rv = SCardGetStatusChange(Context(), 5000, &rs, 1);
  const auto waited = Clock::now() - start;
  inserter.join();
  ASSERT_EQ(rv, SCARD_S_SUCCESS);
  EXPECT_GE(waited, std::chrono::milliseconds(40));
  EXPECT_LT(waited, std::chrono::milliseconds(4000));
  EXPECT_EQ(rs.dwEventState & 0xFFFF,
            static_cast<DWORD>(SCARD_STATE_PRESENT | SCARD_STATE_CHANGED));  // 0x0022
  EXPECT_EQ(rs.dwEventState >> 16, 1u);  // one event on this reader
  EXPECT_EQ(Bytes(rs.rgbAtr, rs.rgbAtr + rs.cbAtr), cardsim::VirtualCard::Atr());

  // Nothing further happens: the timeout.
  rs.dwCurrentState = rs.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  const auto start2 = Clock::now();
  EXPECT_EQ(SCardGetStatusChange(Context(), 100, &rs, 1), SCARD_E_TIMEOUT);
  EXPECT_GE(Clock::now() - start2, std::chrono::milliseconds(95));
  EXPECT_EQ(rs.dwEventState & 0xFFFF, static_cast<DWORD>(SCARD_STATE_PRESENT));
  EXPECT_EQ(rs.dwEventState >> 16, 1u);

  // Removal and re-insertion between two calls: the counter tells.
  fakepcsc::RemoveCard("R");
  fakepcsc::InsertCard("R", NewCard());
  ASSERT_EQ(SCardGetStatusChange(Context(), 0, &rs, 1), SCARD_S_SUCCESS);
  EXPECT_EQ(rs.dwEventState & 0xFFFF,
            static_cast<DWORD>(SCARD_STATE_PRESENT | SCARD_STATE_CHANGED));
  EXPECT_EQ(rs.dwEventState >> 16, 3u);
}

TEST_F(FakePcsc, GetStatusChangeUnknownReaderPnpAndCancel) {
  fakepcsc::AddReader("R");
  SCARD_READERSTATE rs[2]{};
  rs[0].szReader = "Missing";
  rs[0].dwCurrentState = SCARD_STATE_UNAWARE;
  rs[1].szReader = "\\\\?PnP?\\Notification";
  rs[1].dwCurrentState = 0;
  ASSERT_EQ(SCardGetStatusChange(Context(), 0, rs, 2), SCARD_S_SUCCESS);
  EXPECT_EQ(rs[0].dwEventState, static_cast<DWORD>(SCARD_STATE_UNKNOWN | SCARD_STATE_CHANGED));
  EXPECT_EQ(rs[1].dwEventState, static_cast<DWORD>((1 << 16) | SCARD_STATE_CHANGED));

  // Wait on "R" (empty) forever; SCardCancel from another thread ends the wait.
  SCARD_READERSTATE r{};
  r.szReader = "R";
  r.dwCurrentState = SCARD_STATE_EMPTY;
  const SCARDCONTEXT ctx = Context();
  std::thread canceller([ctx] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SCardCancel(ctx);
  });
  EXPECT_EQ(SCardGetStatusChange(ctx, INFINITE, &r, 1), SCARD_E_CANCELLED);
  canceller.join();
  // A reader being added ends a wait on the PnP pseudo-reader.
  rs[1].dwCurrentState = rs[1].dwEventState;
  std::thread adder([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fakepcsc::AddReader("R2");
  });
  EXPECT_EQ(SCardGetStatusChange(ctx, 5000, &rs[1], 1), SCARD_S_SUCCESS);
  adder.join();
  EXPECT_EQ(rs[1].dwEventState, static_cast<DWORD>((2 << 16) | SCARD_STATE_CHANGED));
}

TEST_F(FakePcsc, ConcurrentConnectionsAndWaiters) {
  fakepcsc::AddReader("A");
  fakepcsc::AddReader("B");
  fakepcsc::InsertCard("A", NewCard());
  fakepcsc::InsertCard("B", NewCard());
  const SCARDCONTEXT ctx = Context();
  // A waiter on a third reader that gets its card while the others work.
  fakepcsc::AddReader("C");
  std::thread waiter([ctx] {
    SCARD_READERSTATE rs{};
    rs.szReader = "C";
    rs.dwCurrentState = SCARD_STATE_EMPTY;
    EXPECT_EQ(SCardGetStatusChange(ctx, 10000, &rs, 1), SCARD_S_SUCCESS);
    EXPECT_TRUE(rs.dwEventState & SCARD_STATE_PRESENT);
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([ctx, t] {
      SCARDHANDLE h = 0;
      DWORD protocol = 0;
      ASSERT_EQ(SCardConnect(ctx, t % 2 ? "A" : "B", SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &h,
                             &protocol),
                SCARD_S_SUCCESS);
      for (int i = 0; i < 500; ++i) {
        BYTE recv[258];
        DWORD len = sizeof recv;
        ASSERT_EQ(SCardTransmit(h, SCARD_PCI_T0, kChipInfo.data(), 5, nullptr, recv, &len),
                  SCARD_S_SUCCESS);
        ASSERT_EQ(len, 20u);
      }
      EXPECT_EQ(SCardDisconnect(h, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  fakepcsc::InsertCard("C", NewCard());
  for (auto& w : workers) w.join();
  waiter.join();
  EXPECT_EQ(fakepcsc::TransmitCount(), 2000u);
  EXPECT_EQ(fakepcsc::Trace().size(), 2000u);
  EXPECT_EQ(fakepcsc::CardIn("A")->CommandCount() + fakepcsc::CardIn("B")->CommandCount(), 2000u);
}

}  // namespace
}  // namespace cardsim_test
