// What the card provider's benchmarks share: a card holding a 1024-bit key
// (records and both roles) under reference 20, "OrvelCSP" registered in a
// private user directory, and a count of the commands and bytes that cross
// the line between reader and card, whatever the transport.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <memory>
#include <mutex>

#include "cardsim/virtual_card.h"
#include "common/non_copyable.h"
#include "platform/handle_guards.h"
#include "platform/wincrypt.h"
#include "provider_test_support.h"

namespace orvelcsp_bench {

using orvelcsp_test::Bytes;

// A fresh card with the key's records and the key in both roles.
std::shared_ptr<cardsim::VirtualCard> KeyCard();
// The DER of a certificate for the card's key.
const Bytes& KeyCertificate();
// Binds KeyCertificate() to the key as the installation does (the PIN
// given): true when it landed.
bool AttachCertificate();

// A context on the card's key container holding the verified PIN.
class CSigningContext {
 public:
  CSigningContext();
  bool Ready() const { return m_provider.Get() != 0; }
  // One SHA-256 signature of a short text: true when the card signed.
  bool Sign();

 private:
  CProviderContext m_provider;
};

// Counts the commands the card answers and the bytes of command and answer
// APDUs (a T=0 line adds one procedure byte per command, not counted).
class CLineCount : private NonCopyable {
 public:
  explicit CLineCount(std::shared_ptr<cardsim::VirtualCard> card);
  ~CLineCount();
  void Restart();
  std::size_t Commands() const;
  std::size_t Bytes() const;
  // The counters of one round: commands, line bytes, and the link time of a
  // T=0 card at 9,600 bit/s (1.25 ms a byte, 3 ms card time a command).
  void Report(benchmark::State& state) const;

 private:
  std::shared_ptr<cardsim::VirtualCard> m_card;
  mutable std::mutex m_lock;
  std::size_t m_commands = 0;
  std::size_t m_bytes = 0;
};

// One signature a round, with a context holding the verified PIN on the card
// that count watches; reports the line of the last round.
void SignRounds(benchmark::State& state, CLineCount& count);

// Registers the provider in a private user directory for the run, then runs
// the benchmarks.
int RunBenchmarks(int argc, char** argv);

}  // namespace orvelcsp_bench
