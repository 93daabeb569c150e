// Shared helpers of cardsim_core_tests and fakepcsc_tests: a fake reader
// holding a fresh virtual card, reached through pcsc-lite's SCard* API as the
// card library reaches it (shared mode, T=0).
#pragma once

#include <winscard.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cardsim/fake_pcsc.h"
#include "cardsim/virtual_card.h"

namespace cardsim_test {

using cardsim::Bytes;

inline std::string HexOf(const Bytes& b) {
  std::string s;
  char buf[4];
  for (std::size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
    s += buf;
  }
  return s;
}

inline std::uint16_t SwOf(const Bytes& answer) {
  if (answer.size() < 2) return 0;
  return static_cast<std::uint16_t>(answer[answer.size() - 2] << 8 | answer.back());
}

inline Bytes DataOf(const Bytes& answer) {
  return answer.size() < 2 ? Bytes{} : Bytes(answer.begin(), answer.end() - 2);
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes SelectName(const Bytes& name) {
  return Cat({0x00, 0xA4, 0x04, 0x00, static_cast<std::uint8_t>(name.size())}, name);
}
inline Bytes SelectId(std::uint16_t fid) {
  return {0x00,
          0xA4,
          0x00,
          0x00,
          0x02,
          static_cast<std::uint8_t>(fid >> 8),
          static_cast<std::uint8_t>(fid & 0xFF)};
}
inline const Bytes kMasterFileName = Text("Master.File");
inline const Bytes kCryptoName = Text("ICC.Crypto");
inline const Bytes kPkcs15Aid = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50,
                                 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};

inline const std::string kReader = "Orvel Virtual Reader 00";

inline cardsim::CardSpec TestSpec() {
  cardsim::CardSpec spec;
  spec.serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
  spec.pin = "1234";
  spec.pinTries = 3;
  return spec;
}

// A reader with a fresh card, a context and a shared T=0 connection.
class CardFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    fakepcsc::Reset();
    fakepcsc::AddReader(kReader);
    m_card = cardsim::VirtualCard::MakeFresh(TestSpec());
    fakepcsc::InsertCard(kReader, m_card);
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &m_context),
              SCARD_S_SUCCESS);
    Connect();
  }
  void TearDown() override {
    if (m_handle) SCardDisconnect(m_handle, SCARD_LEAVE_CARD);
    if (m_context) SCardReleaseContext(m_context);
    fakepcsc::Reset();
  }
  void Connect() {
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(m_context, kReader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0,
                           &m_handle, &protocol),
              SCARD_S_SUCCESS);
    ASSERT_EQ(protocol, static_cast<DWORD>(SCARD_PROTOCOL_T0));
  }
  void Disconnect(DWORD disposition) {
    ASSERT_EQ(SCardDisconnect(m_handle, disposition), SCARD_S_SUCCESS);
    m_handle = 0;
  }
  // One SCardTransmit with a 258-byte receive buffer; the answer as received.
  Bytes Tx(const Bytes& command, LONG* result = nullptr) {
    BYTE recv[258];
    DWORD len = sizeof recv;
    LONG rv = SCardTransmit(m_handle, SCARD_PCI_T0, command.data(),
                            static_cast<DWORD>(command.size()), nullptr, recv, &len);
    if (result)
      *result = rv;
    else
      EXPECT_EQ(rv, SCARD_S_SUCCESS) << "command " << HexOf(command);
    if (rv != SCARD_S_SUCCESS) return {};
    return Bytes(recv, recv + len);
  }
  std::uint16_t Sw(const Bytes& command) { return SwOf(Tx(command)); }
  // SELECT then GET RESPONSE with the announced length; the status word of the last step.
  std::uint16_t SelectAndFetch(const Bytes& select, Bytes* fci = nullptr) {
    Bytes a = Tx(select);
    if (a.size() != 2 || a[0] != 0x61) return SwOf(a);
    Bytes r = Tx({0x00, 0xC0, 0x00, 0x00, a[1]});
    if (fci) *fci = DataOf(r);
    return SwOf(r);
  }
  std::uint16_t SelectPath(const Bytes& dfName, std::uint16_t fid = 0) {
    std::uint16_t sw = SelectAndFetch(SelectName(kMasterFileName));
    if (sw != 0x9000) return sw;
    if (dfName != kMasterFileName) {
      sw = SelectAndFetch(SelectName(dfName));
      if (sw != 0x9000) return sw;
    }
    if (fid) sw = SelectAndFetch(SelectId(fid));
    return sw;
  }
  std::uint16_t VerifyPin(const std::string& pin) {
    std::uint16_t sw = SelectPath(kCryptoName);
    if (sw != 0x9000) return sw;
    return Sw(Cat({0x00, 0x20, 0x00, 0x00, static_cast<std::uint8_t>(pin.size())}, Text(pin)));
  }

  std::shared_ptr<cardsim::VirtualCard> m_card;
  SCARDCONTEXT m_context = 0;
  SCARDHANDLE m_handle = 0;
};

}  // namespace cardsim_test
