// Small owners of pcsc-lite handles for programs and tests that talk to a
// card through the real PC/SC stack: a resource-manager context and a card
// connection, each released when its owner goes.
#pragma once

#include <winscard.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cardsim/virtual_card.h"
#include "common/non_copyable.h"

namespace cardsim {

// Thrown when a PC/SC call fails; carries the call's result.
class PcscError : public std::runtime_error {
 public:
  PcscError(const std::string& call, LONG result);
  LONG Result() const { return m_result; }

 private:
  LONG m_result;
};

class PcscContext : private NonCopyable {
 public:
  // Establishes a SCARD_SCOPE_SYSTEM context; throws PcscError.
  PcscContext();
  ~PcscContext();

  SCARDCONTEXT Get() const { return m_context; }
  // Names of the readers pcscd knows (empty when there are none).
  std::vector<std::string> ListReaders() const;
  // The reader's state (SCARD_STATE_* with the event count in the upper
  // 16 bits) and the ATR of its card, without waiting.
  DWORD ReaderState(const std::string& reader, Bytes* atr = nullptr) const;

 private:
  SCARDCONTEXT m_context = 0;
};

class PcscCard : private NonCopyable {
 public:
  // Connects shared with T=0; throws PcscError.
  PcscCard(const PcscContext& context, const std::string& reader);
  ~PcscCard();  // disconnects, leaving the card powered

  SCARDHANDLE Get() const { return m_card; }
  DWORD Protocol() const { return m_protocol; }
  // One command APDU, the full answer (data, SW1, SW2); throws PcscError.
  Bytes Transmit(const Bytes& apdu) const;
  // The card's ATR as SCardStatus reports it.
  Bytes Atr() const;

 private:
  SCARDHANDLE m_card = 0;
  DWORD m_protocol = 0;
};

// The status word at the end of an answer (0 when it has fewer than 2 bytes).
std::uint16_t StatusWord(const Bytes& answer);
// "3B 8F ..." for printing.
std::string HexBytes(const Bytes& bytes, const char* separator = " ");

}  // namespace cardsim
