#include "cardsim/vpcd_client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "cardsim/vpcd_protocol.h"

namespace cardsim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr microseconds kForever{-1};
constexpr milliseconds kConnectTimeout{2000};

// Delay before the next connection attempt while the driver does not listen.
// pcscd looks for a card as soon as a reader starts and then only every
// 400 ms; the driver starts listening a fraction of a millisecond before that
// first look. Trying very often for a moment gives a starting reader its card
// at once; after that the attempts become rare.
microseconds RetryDelay(int attempt) {
  if (attempt < 3000) return microseconds(100);
  if (attempt < 3500) return milliseconds(1);
  return milliseconds(100);
}

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

// The socket is non-blocking: a full send buffer is waited out, for a while.
bool SendAll(int fd, const Bytes& data) {
  constexpr int kSendTimeoutMs = 2000;
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd writable{fd, POLLOUT, 0};
      if (::poll(&writable, 1, kSendTimeoutMs) != 1) return false;
      continue;
    }
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

VpcdClient::VpcdClient(std::shared_ptr<VirtualCard> card, std::string host, std::uint16_t port,
                       bool inserted, CommandObserver observer)
    : m_card(std::move(card)),
      m_host(std::move(host)),
      m_port(port),
      m_observer(std::move(observer)),
      m_wantInserted(inserted) {
  if (!m_card) throw std::invalid_argument("VpcdClient needs a card");
  m_wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!m_wake) throw std::system_error(errno, std::generic_category(), "eventfd");
  m_thread = std::thread([this] { Run(); });
}

VpcdClient::~VpcdClient() { Stop(); }

void VpcdClient::Insert() {
  {
    std::lock_guard lock(m_mutex);
    m_wantInserted = true;
  }
  Wake();
}

void VpcdClient::Remove() {
  {
    std::lock_guard lock(m_mutex);
    m_wantInserted = false;
  }
  Wake();
}

void VpcdClient::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  Wake();
  if (m_thread.joinable()) m_thread.join();
}

bool VpcdClient::Inserted() const {
  std::lock_guard lock(m_mutex);
  return m_wantInserted;
}

bool VpcdClient::WaitConnected(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [this] { return m_connected.load(); });
}

bool VpcdClient::WaitDisconnected(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [this] { return !m_connected.load(); });
}

void VpcdClient::SetConnected(bool connected) {
  {
    std::lock_guard lock(m_mutex);
    m_connected = connected;
  }
  m_changed.notify_all();
}

void VpcdClient::Wake() {
  const std::uint64_t one = 1;
  // A full counter still wakes the thread, so a failed write changes nothing.
  [[maybe_unused]] const ssize_t n = ::write(m_wake.Get(), &one, sizeof one);
}

void VpcdClient::DrainWake() {
  std::uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = ::read(m_wake.Get(), &value, sizeof value);
}

short VpcdClient::WaitFor(int fd, short events, microseconds timeout) {
  pollfd fds[2] = {{m_wake.Get(), POLLIN, 0}, {fd, events, 0}};
  const nfds_t count = fd >= 0 ? 2 : 1;
  timespec limit{};
  limit.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
  limit.tv_nsec = static_cast<long>(timeout.count() % 1000000 * 1000);
  int n;
  do {
    n = ::ppoll(fds, count, timeout.count() < 0 ? nullptr : &limit, nullptr);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  if (fds[0].revents & POLLIN) {
    DrainWake();
    return 0;
  }
  return count == 2 ? fds[1].revents : 0;
}

UniqueFd VpcdClient::TryConnect() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(m_port);
  if (::getaddrinfo(m_host.c_str(), service.c_str(), &hints, &found) != 0) return {};
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(found);

  for (addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
    UniqueFd fd(
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol));
    if (!fd) continue;
    if (::connect(fd.Get(), ai->ai_addr, ai->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) continue;
      // Wait for the handshake, but give way to Remove() and Stop().
      if (!(WaitFor(fd.Get(), POLLOUT, kConnectTimeout) & (POLLOUT | POLLERR | POLLHUP))) continue;
      int error = 0;
      socklen_t len = sizeof error;
      if (::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) continue;
    }
    const int one = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
  }
  return {};
}

void VpcdClient::Run() {
  UniqueFd socket;
  vpcd::FrameReader reader;
  int attempts = 0;

  for (;;) {
    bool stop, inserted;
    {
      std::lock_guard lock(m_mutex);
      stop = m_stop;
      inserted = m_wantInserted;
    }
    if (stop) break;

    if (!inserted) {
      if (socket) {
        socket.Reset();
        SetConnected(false);
      }
      WaitFor(-1, 0, kForever);
      continue;
    }

    if (!socket) {
      socket = TryConnect();
      if (!socket) {
        WaitFor(-1, 0, RetryDelay(attempts++));
        continue;
      }
      attempts = 0;
      reader = vpcd::FrameReader();
      SetConnected(true);
    }

    const short revents = WaitFor(socket.Get(), POLLIN, kForever);
    if (!revents) continue;  // woken: look at the wishes again

    bool alive = (revents & POLLIN) != 0;
    if (alive) {
      std::uint8_t buffer[4096];
      ssize_t n;
      do {
        n = ::recv(socket.Get(), buffer, sizeof buffer, 0);
      } while (n < 0 && errno == EINTR);
      if (n > 0) {
        // The driver sends some messages back to back without waiting for an
        // answer (power on, then get ATR); with Nagle on its side, the second
        // waits for our acknowledgement of the first. Acknowledge at once
        // rather than after the delayed-ACK timer (tens of milliseconds).
        const int one = 1;
        ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        reader.Feed(buffer, static_cast<std::size_t>(n));
        while (alive) {
          std::optional<Bytes> message = reader.Next();
          if (!message) break;
          std::optional<Bytes> answer = vpcd::AnswerMessage(*m_card, *message);
          if (!answer) continue;
          std::optional<Bytes> frame = vpcd::EncodeFrame(*answer);
          alive = frame && SendAll(socket.Get(), *frame);
          if (alive && m_observer && message->size() > 1) m_observer(*message, *answer);
        }
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
        alive = false;
      }
    }
    if (!alive) {
      // The driver went away (pcscd stopped): try again as long as the card
      // is meant to be inserted.
      socket.Reset();
      SetConnected(false);
    }
  }

  if (socket) {
    socket.Reset();
    SetConnected(false);
  }
}

}  // namespace cardsim
