#include "private_pcscd.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "cardsim/unique_fd.h"

extern char** environ;

namespace cardsim::rig {
namespace {

constexpr const char* kSystemRunDir = "/run/pcscd";

std::filesystem::path FindPcscd() {
  if (const char* path = std::getenv("PATH")) {
    std::string list = path;
    std::size_t pos = 0;
    while (pos <= list.size()) {
      const std::size_t end = std::min(list.find(':', pos), list.size());
      const std::filesystem::path candidate =
          std::filesystem::path(list.substr(pos, end - pos)) / "pcscd";
      if (end > pos && ::access(candidate.c_str(), X_OK) == 0) return candidate;
      pos = end + 1;
    }
  }
  for (const char* dir : {"/usr/sbin", "/sbin", "/usr/local/sbin"}) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / "pcscd";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  throw std::runtime_error("pcscd not found (is the pcscd package installed?)");
}

// Only async-signal-safe calls from here on: the parent may have threads.
void Note(int fd, const char* text) {
  [[maybe_unused]] const ssize_t n = ::write(fd, text, std::strlen(text));
}

[[noreturn]] void ChildFail(int logFd, const char* what) {
  Note(logFd, "private pcscd: ");
  Note(logFd, what);
  Note(logFd, " failed\n");
  ::_exit(127);
}

bool PortFree(std::uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  const int one = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  return ::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

pid_t SpawnPrivatePcscd(const std::filesystem::path& runDir, const std::filesystem::path& confDir,
                        const std::filesystem::path& logFile) {
  // Everything the child needs is made before fork().
  const std::string pcscd = FindPcscd().string();
  const std::string run = runDir.string();
  const std::string conf = confDir.string();
  const bool systemRunDirExists = ::access(kSystemRunDir, F_OK) == 0;
  std::vector<char*> argv = {const_cast<char*>(pcscd.c_str()), const_cast<char*>("--foreground"),
                             const_cast<char*>("--config"), const_cast<char*>(conf.c_str())};
  // ORVEL_RIG_DEBUG=1 makes the daemon log what it does (see DaemonLog()).
  if (const char* debug = std::getenv("ORVEL_RIG_DEBUG"); debug && *debug && *debug != '0')
    argv.push_back(const_cast<char*>("--debug"));
  argv.push_back(nullptr);

  UniqueFd log(::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!log) throw std::system_error(errno, std::generic_category(), "open " + logFile.string());
  UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!devNull) throw std::system_error(errno, std::generic_category(), "open /dev/null");
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {
    const int logFd = log.Get();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::setpgid(0, 0);
    // Die with the thread that started us, so that a crashed test leaves no
    // daemon behind.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) ChildFail(logFd, "prctl");
    if (::getppid() != parent) ::_exit(1);

    if (::unshare(CLONE_NEWNS) != 0) ChildFail(logFd, "unshare(CLONE_NEWNS) (root needed)");
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      ChildFail(logFd, "making mounts private");
    if (!systemRunDirExists) {
      // No /run/pcscd to cover: give this namespace a /run of its own and
      // make the directory there, leaving the real /run untouched.
      if (::mount("tmpfs", "/run", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") != 0)
        ChildFail(logFd, "mounting a private /run");
      if (::mkdir(kSystemRunDir, 0755) != 0) ChildFail(logFd, "mkdir /run/pcscd");
    }
    if (::mount(run.c_str(), kSystemRunDir, nullptr, MS_BIND, nullptr) != 0)
      ChildFail(logFd, "binding the private directory over /run/pcscd");

    if (::dup2(devNull.Get(), STDIN_FILENO) < 0 || ::dup2(logFd, STDOUT_FILENO) < 0 ||
        ::dup2(logFd, STDERR_FILENO) < 0)
      ChildFail(logFd, "dup2");
    // Nothing else of ours goes along: a card connection held open by the
    // daemon would keep a removed card in its reader.
    ::close_range(3, ~0U, 0);
    ::execve(argv[0], argv.data(), environ);
    ChildFail(STDERR_FILENO, "exec pcscd");
  }
  // Set the group from this side too, so that a kill of the group right
  // after this returns cannot miss the child.
  ::setpgid(pid, pid);
  return pid;
}

bool ProcessEnded(pid_t pid) {
  siginfo_t info{};
  // WNOWAIT leaves the process a zombie, so that its pid (and process group
  // id) cannot be reused before StopProcessGroup has swept the group.
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return errno == ECHILD;
  return info.si_pid == pid;
}

void StopProcessGroup(pid_t pid, std::chrono::milliseconds grace) {
  if (pid <= 0) return;
  ::kill(-pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (!ProcessEnded(pid) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  // Whatever is left of the group goes now, the leader included.
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

std::uint16_t PickFreePorts(std::size_t count) {
  // Below 32768, where Linux starts handing out ports for outgoing
  // connections, and away from the well-known ones.
  constexpr unsigned kLow = 20000;
  constexpr unsigned kHigh = 32700;
  static std::atomic<unsigned> calls{0};
  if (count == 0 || count > 64) throw std::invalid_argument("PickFreePorts: bad count");

  const unsigned span = (kHigh - kLow - static_cast<unsigned>(count)) / 2;
  unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u + calls.fetch_add(1) * 40503u;
  for (int attempt = 0; attempt < 500; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    const unsigned base = kLow + 2 * ((seed >> 8) % span);
    bool free = true;
    for (std::size_t i = 0; i < count && free; ++i)
      free = PortFree(static_cast<std::uint16_t>(base + i));
    if (free) return static_cast<std::uint16_t>(base);
  }
  throw std::runtime_error("no free block of TCP ports found");
}

}  // namespace cardsim::rig
