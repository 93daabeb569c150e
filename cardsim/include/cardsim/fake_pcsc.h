// Control side of the in-process fake PC/SC library. Tests link
// orvel_fakepcsc instead of libpcsclite: it exports pcsc-lite's SCard*
// functions and SCARD_PCI_T0 (g_rgSCardT0Pci), over scripted readers that
// hold virtual cards. Everything here is thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <wintypes.h>

#include "cardsim/virtual_card.h"

namespace fakepcsc {

// Back to nothing: no readers, no faults, empty trace, contexts work.
void Reset();

// Readers appear in the order added. At most 17 readers.
void AddReader(const std::string& name);
void RemoveReader(const std::string& name);
// Put a card into a reader (replacing any card there), or take it out.
// Either counts as an event for SCardGetStatusChange.
void InsertCard(const std::string& reader, std::shared_ptr<cardsim::VirtualCard> card);
void RemoveCard(const std::string& reader);
std::shared_ptr<cardsim::VirtualCard> CardIn(const std::string& reader);
// Another program holds the card exclusively: SCardConnect answers
// SCARD_E_SHARING_VIOLATION and the reader state shows SCARD_STATE_EXCLUSIVE.
void SetHeldByOtherProgram(const std::string& reader, bool held);

// Make SCardEstablishContext fail in SCARD_SCOPE_USER, SCARD_SCOPE_SYSTEM or both.
void FailEstablishContext(bool userScope, bool systemScope);
// Make SCardListReaders fail with this code (0 = normal behaviour).
void FailListReaders(LONG error);

// Faults at the Nth SCardTransmit counted from the last Reset/ClearFaults
// (1-based, every reader together).
void FailTransmitAt(std::size_t n, LONG transportError);
void AnswerStatusAt(std::size_t n, std::uint16_t statusWord);  // card not asked
// Command n is answered with exactly these bytes (the card is not asked);
// an answer longer than the caller's buffer is SCARD_E_INSUFFICIENT_BUFFER.
void ReplaceAnswerAt(std::size_t n, const cardsim::Bytes& answer);
void RemoveCardAt(std::size_t n);  // card pulled before command n: SCARD_W_REMOVED_CARD
void ResetCardAt(std::size_t n);   // card reset before command n: SCARD_W_RESET_CARD
// Runs action on the calling thread just before command n is handled, as
// another program using the card would. The commands it sends are counted
// and traced like any other: they take the numbers from n on.
void BeforeCommand(std::size_t n, std::function<void()> action);
void ClearFaults();  // the actions too
// A slow card: every SCardTransmit takes at least this long (0: as fast as
// it can). The fake's lock is not held while waiting.
void SetTransmitDelay(std::chrono::microseconds delay);

struct TraceEntry {
  std::string reader;
  cardsim::Bytes command;
  cardsim::Bytes answer;  // empty when the transport failed
  LONG result = 0;
  std::chrono::steady_clock::time_point at{};  // when the answer came back
};
std::vector<TraceEntry> Trace();
void ClearTrace();
std::size_t TransmitCount();  // SCardTransmit calls since the last Reset/ClearTrace
// Off: commands are counted but not kept (Trace() stays empty), for callers
// that send millions of them. Reset turns it back on.
void SetTracing(bool on);

}  // namespace fakepcsc
