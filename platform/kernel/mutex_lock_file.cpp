#include "mutex_lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "platform/user_state.h"

namespace platform::kernel {
namespace {

// A file name for any mutex name: letters, digits, '.', '_' and '-' stay,
// everything else becomes %XX. Names too long for a file name keep a prefix
// and a hash of the whole. The platform's session prefixes name the same
// object here, where every named object is private to the user.
std::string FileNameFor(std::string name) {
  for (const char* prefix : {"Local\\", "Global\\"}) {
    if (name.rfind(prefix, 0) == 0) {
      name.erase(0, std::char_traits<char>::length(prefix));
      break;
    }
  }
  std::string file;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '.' || c == '_' || c == '-') {
      file.push_back(static_cast<char>(c));
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      file += escaped;
    }
  }
  constexpr std::size_t kMaxFile = 200;
  if (file.size() > kMaxFile) {
    std::uint64_t digest = 0xCBF29CE484222325ULL;  // FNV-1a
    for (unsigned char c : name) {
      digest ^= c;
      digest *= 0x100000001B3ULL;
    }
    char suffix[20];
    std::snprintf(suffix, sizeof suffix, "#%016llX", static_cast<unsigned long long>(digest));
    file.resize(kMaxFile - (sizeof suffix - 1));
    file += suffix;
  }
  return file + ".lock";
}

DWORD ErrnoToError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_INVALID_HANDLE;
  }
}

}  // namespace

std::filesystem::path MutexLockFile::PathFor(const std::string& name) {
  return UserStateDir() / "mutexes" / FileNameFor(name);
}

std::optional<MutexLockFile> MutexLockFile::Open(const std::string& name) {
  const std::filesystem::path path = PathFor(name);
  ::mkdir(path.parent_path().c_str(), 0700);  // inside the user's own directory
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetLastError(ErrnoToError(errno));
    return std::nullopt;
  }
  return MutexLockFile(fd);
}

MutexLockFile::~MutexLockFile() {
  if (m_fd >= 0) ::close(m_fd);
}

MutexLockFile::Result MutexLockFile::Lock(const Deadline& deadline) {
  if (!deadline) {
    while (::flock(m_fd, LOCK_EX) != 0) {
      if (errno != EINTR) return Result::kFailed;
    }
  } else {
    // flock() has no time-out: poll, from 1 ms up to 10 ms between tries.
    auto pause = std::chrono::milliseconds(1);
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return Result::kFailed;
      const auto now = std::chrono::steady_clock::now();
      if (now >= *deadline) return Result::kTimeout;
      std::this_thread::sleep_for(
          std::min<std::chrono::steady_clock::duration>(pause, *deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds(10));
    }
  }
  char mark = '0';
  const bool abandoned = ::pread(m_fd, &mark, 1, 0) == 1 && mark == '1';
  char record[24];
  const int length = std::snprintf(record, sizeof record, "1 %ld\n", static_cast<long>(::getpid()));
  if (::ftruncate(m_fd, 0) != 0 ||
      ::pwrite(m_fd, record, static_cast<std::size_t>(length), 0) != length) {
    // Without the mark a later death would go unnoticed; refuse the lock.
    ::flock(m_fd, LOCK_UN);
    return Result::kFailed;
  }
  return abandoned ? Result::kAbandoned : Result::kLocked;
}

void MutexLockFile::Unlock(bool released) {
  if (released) {
    const char free = '0';
    if (::pwrite(m_fd, &free, 1, 0) != 1) {
      // The next owner will take the mutex for abandoned; nothing better
      // can be done without the file.
    }
  }
  ::flock(m_fd, LOCK_UN);
}

}  // namespace platform::kernel
