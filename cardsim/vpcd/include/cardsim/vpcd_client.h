// Connects a virtual card to one slot of the vpcd reader driver, so that
// pcscd sees the card in that reader. While the card is inserted a thread
// keeps a TCP connection to the driver (retrying until the driver listens)
// and answers its messages; removing the card closes the connection, which
// the driver reports as an empty reader.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cardsim/unique_fd.h"
#include "cardsim/virtual_card.h"
#include "common/non_copyable.h"

namespace cardsim {

// The port of the first slot in the installed vpcd reader configuration.
inline constexpr std::uint16_t kDefaultVpcdPort = 35963;

class VpcdClient : private NonCopyable {
 public:
  // Runs on the client's thread after every APDU the card answered.
  using CommandObserver = std::function<void(const Bytes& command, const Bytes& answer)>;

  // Starts the client thread at once; with `inserted` the thread connects as
  // soon as the driver listens.
  VpcdClient(std::shared_ptr<VirtualCard> card, std::string host, std::uint16_t port,
             bool inserted = true, CommandObserver observer = {});
  ~VpcdClient();

  void Insert();  // connect (again), retrying until the driver listens
  void Remove();  // disconnect: the reader becomes empty
  void Stop();    // disconnect and end the thread; the destructor does it too

  bool Inserted() const;
  bool Connected() const { return m_connected.load(); }
  // Waits until the connection is up (true) or the time is over (false).
  bool WaitConnected(std::chrono::milliseconds timeout) const;
  // Waits until the client holds no connection.
  bool WaitDisconnected(std::chrono::milliseconds timeout) const;

  std::uint16_t Port() const { return m_port; }
  const std::shared_ptr<VirtualCard>& Card() const { return m_card; }

 private:
  void Run();
  void Wake();
  void DrainWake();
  // Waits on the wake descriptor (and `fd`, when given, for `events`); a
  // negative timeout waits for ever. Returns the poll revents of `fd`, 0 on
  // timeout or wake.
  short WaitFor(int fd, short events, std::chrono::microseconds timeout);
  UniqueFd TryConnect();
  void SetConnected(bool connected);

  const std::shared_ptr<VirtualCard> m_card;
  const std::string m_host;
  const std::uint16_t m_port;
  const CommandObserver m_observer;

  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_wantInserted;
  bool m_stop = false;
  std::atomic<bool> m_connected{false};

  UniqueFd m_wake;  // eventfd that interrupts the thread's waits
  std::thread m_thread;
};

}  // namespace cardsim
