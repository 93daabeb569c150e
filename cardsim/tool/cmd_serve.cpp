// orvelcard serve: puts card images into the vpcd readers of a running
// pcscd and writes each image back whenever its card changes.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <sstream>

#include "cardsim/unique_fd.h"
#include "cardsim/virtual_card.h"
#include "cardsim/vpcd_client.h"
#include "commands.h"
#include "tool_args.h"

namespace orvelcard {
namespace {

std::mutex outputMutex;

// One served image. The save state is touched by the card's client thread
// (after each command) and by the main thread (at the end, after the client
// has stopped).
struct ServedCard {
  std::filesystem::path path;
  std::uint16_t port = 0;
  std::shared_ptr<cardsim::VirtualCard> card;
  std::string savedJson;
  std::unique_ptr<cardsim::VpcdClient> client;

  // Writes the image when the card's contents differ from what was saved.
  void SaveIfChanged(std::ostream& err) {
    std::string json = card->ToJson();
    if (json == savedJson) return;
    try {
      card->SaveFile(path);
      savedJson = std::move(json);
    } catch (const std::exception& e) {
      std::lock_guard lock(outputMutex);
      err << "orvelcard serve: " << e.what() << "\n";
    }
  }
};

// Blocks SIGINT and SIGTERM in this thread (and the threads it starts) for
// its lifetime, so that they arrive through a signalfd.
class BlockedSignals {
 public:
  BlockedSignals() {
    sigemptyset(&m_set);
    sigaddset(&m_set, SIGINT);
    sigaddset(&m_set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &m_set, &m_previous);
    m_fd.Reset(signalfd(-1, &m_set, SFD_CLOEXEC));
  }
  ~BlockedSignals() {
    m_fd.Reset();
    pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
  }
  int Fd() const { return m_fd.Get(); }

 private:
  sigset_t m_set{};
  sigset_t m_previous{};
  cardsim::UniqueFd m_fd;
};

enum class Verdict { Continue, Quit };

Verdict Command(const std::string& line, std::vector<ServedCard>& cards, std::ostream& out,
                std::ostream& err) {
  std::istringstream words(line);
  std::string verb, index, extra;
  words >> verb >> index >> extra;
  std::lock_guard lock(outputMutex);
  if (verb.empty()) return Verdict::Continue;
  if ((verb == "quit" || verb == "exit") && index.empty()) return Verdict::Quit;
  if (verb == "status" && index.empty()) {
    for (std::size_t i = 0; i < cards.size(); ++i)
      out << "card " << i << ": " << (cards[i].client->Inserted() ? "inserted" : "removed") << ", "
          << (cards[i].client->Connected() ? "connected" : "not connected") << " (port "
          << cards[i].port << ")\n";
    out.flush();
    return Verdict::Continue;
  }
  if ((verb == "remove" || verb == "insert") && extra.empty()) {
    const std::optional<std::size_t> n = ParseNumber(index, 0, cards.size() - 1);
    if (!n) {
      err << "orvelcard serve: no card " << index << " (cards 0 to " << cards.size() - 1 << ")\n";
      return Verdict::Continue;
    }
    if (verb == "remove") {
      cards[*n].client->Remove();
      out << "card " << *n << " removed\n";
    } else {
      cards[*n].client->Insert();
      out << "card " << *n << " inserted\n";
    }
    out.flush();
    return Verdict::Continue;
  }
  if (verb == "help" && index.empty()) {
    out << "commands: remove N, insert N, status, quit\n";
    out.flush();
    return Verdict::Continue;
  }
  err << "orvelcard serve: unknown command \"" << line << "\" (remove N, insert N, status, quit)\n";
  return Verdict::Continue;
}

}  // namespace

int RunServe(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::string host = "127.0.0.1";
  std::vector<ServedCard> cards;
  std::set<std::uint16_t> ports;

  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--host" && i + 1 < args.size()) {
      host = args[++i];
      continue;
    }
    const std::optional<ImageArgument> image = ParseImageArgument(args[i]);
    if (!image || args[i][0] == '-') {
      err << "orvelcard serve: bad argument \"" << args[i] << "\"\n";
      return kExitUsage;
    }
    ServedCard served;
    served.path = image->path;
    served.port =
        image->port.value_or(static_cast<std::uint16_t>(cardsim::kDefaultVpcdPort + cards.size()));
    if (!ports.insert(served.port).second) {
      err << "orvelcard serve: port " << served.port << " given twice\n";
      return kExitUsage;
    }
    try {
      served.card = cardsim::VirtualCard::LoadFile(served.path);
    } catch (const std::exception& e) {
      err << "orvelcard serve: not a usable card image: " << e.what() << "\n";
      return kExitFailed;
    }
    served.savedJson = served.card->ToJson();
    cards.push_back(std::move(served));
  }
  if (cards.empty()) {
    err << "usage: orvelcard serve [--host HOST] IMAGE.json[:PORT] [IMAGE2.json[:PORT] ...]\n";
    return kExitUsage;
  }

  BlockedSignals signals;
  if (signals.Fd() < 0) {
    err << "orvelcard serve: signalfd: " << std::strerror(errno) << "\n";
    return kExitFailed;
  }
  for (std::size_t i = 0; i < cards.size(); ++i) {
    ServedCard& served = cards[i];
    served.client = std::make_unique<cardsim::VpcdClient>(
        served.card, host, served.port, true,
        [&served, &err](const cardsim::Bytes&, const cardsim::Bytes&) {
          served.SaveIfChanged(err);
        });
    std::lock_guard lock(outputMutex);
    out << "card " << i << ": " << served.path.string() << " on " << host << ":" << served.port
        << "\n";
  }
  {
    std::lock_guard lock(outputMutex);
    out << "commands: remove N, insert N, status, quit\n";
    out.flush();
  }

  bool inputOpen = true;
  std::string pending;
  for (bool running = true; running;) {
    pollfd fds[2] = {{signals.Fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int n = ::poll(fds, inputOpen ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents & POLLIN) {
      // SIGINT or SIGTERM. Take it off the queue, or it would strike as soon
      // as the signals are unblocked again.
      signalfd_siginfo info{};
      [[maybe_unused]] const ssize_t got = ::read(signals.Fd(), &info, sizeof info);
      break;
    }
    if (!inputOpen || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buffer[256];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      // No more commands: go on serving until a signal comes.
      inputOpen = false;
      continue;
    }
    pending.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; running && (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      running = Command(line, cards, out, err) == Verdict::Continue;
    }
  }

  for (ServedCard& served : cards) {
    served.client.reset();
    served.SaveIfChanged(err);
  }
  std::lock_guard lock(outputMutex);
  out << "stopped\n";
  out.flush();
  return kExitOk;
}

}  // namespace orvelcard
