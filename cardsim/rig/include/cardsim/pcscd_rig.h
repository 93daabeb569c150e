// A private pcscd for tests: the real daemon with vpcd readers, each holding
// a virtual card served by a VpcdClient.
//
// The daemon always makes its socket at /run/pcscd/pcscd.comm, so the rig
// runs it in a mount namespace of its own, where a private directory stands
// in for /run/pcscd; a system pcscd keeps the real one. Clients in this
// process (and the programs it starts) find the private daemon through
// PCSCLITE_CSOCK_NAME, which the rig sets. The PC/SC client library reads
// that variable once, at its first use, so the socket path is the same for
// every rig of a process: create the first rig before the first SCard call,
// and run one rig at a time. Starting needs root (mount namespaces).
//
// Everything the rig starts ends with it: the daemon (its whole process
// group, and it is killed as well if the thread that started it dies), the
// card clients and the private directory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cardsim/virtual_card.h"
#include "cardsim/vpcd_client.h"
#include "common/non_copyable.h"

namespace cardsim {

class PcscdRig : private NonCopyable {
 public:
  // Reader i holds cards[i]; one or two cards. The vpcd driver always brings
  // two readers ("Virtual PCD 00 00" and "Virtual PCD 00 01") and cannot run
  // more than one configured reader per daemon, so there are always exactly
  // two readers; the second is empty for a single card. A null card leaves
  // the reader to a card server of someone else's (for instance the card
  // tool), which connects to Port(i).
  explicit PcscdRig(std::vector<std::shared_ptr<VirtualCard>> cards);
  ~PcscdRig();

  // Starts the daemon and the card clients and returns once every reader is
  // listed and every card is present; throws std::runtime_error (with the
  // daemon's log) when that does not happen within a few seconds.
  void Start();
  // Stops everything; the destructor does it too. Safe to call twice.
  void Stop();

  // Take card i out of its reader or put it back. With `wait`, return once
  // pcscd reports the reader empty or the card present (throws if it does
  // not within a few seconds).
  void Remove(std::size_t i, bool wait = true);
  void Insert(std::size_t i, bool wait = true);

  // Reader names as pcscd gives them, in reader order.
  std::vector<std::string> ReaderNames() const;
  const std::string& ReaderName(std::size_t i) const;
  std::uint16_t Port(std::size_t i) const;
  std::size_t ReaderCount() const { return m_readers.size(); }
  const std::shared_ptr<VirtualCard>& Card(std::size_t i) const;

  bool Running() const { return m_pid > 0; }
  pid_t DaemonPid() const { return m_pid; }
  // Where PCSCLITE_CSOCK_NAME points.
  static std::filesystem::path SocketPath();
  // How long the last Start() took until everything was ready.
  std::chrono::milliseconds StartupTime() const { return m_startupTime; }
  // What the daemon wrote so far.
  std::string DaemonLog() const;

 private:
  struct Reader {
    std::string name;
    std::uint16_t port = 0;
    std::shared_ptr<VirtualCard> card;
    std::unique_ptr<VpcdClient> client;
  };

  void WriteReaderConfig() const;
  void LaunchDaemon();
  void WaitUntilReady(std::chrono::steady_clock::time_point deadline);
  void WaitForState(std::size_t i, bool present, std::chrono::steady_clock::time_point deadline);
  // Insert (present) or Remove.
  void MoveCard(std::size_t i, bool present, bool wait);
  [[noreturn]] void Fail(const std::string& what);
  void KillDaemon();

  std::vector<Reader> m_readers;
  std::filesystem::path m_dir;
  pid_t m_pid = -1;
  bool m_ownsProcessSlot = false;
  std::chrono::milliseconds m_startupTime{0};
};

}  // namespace cardsim
