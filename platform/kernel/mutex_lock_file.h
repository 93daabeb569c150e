// The part of a named mutex that other processes see: a lock file in the
// user's state directory, locked with flock() by the process that owns the
// mutex. The kernel drops the lock when that process ends, however it ends.
// The file's first byte records whether the owner let go properly ('0') or
// still holds it ('1'): a process that obtains the lock and finds '1' knows
// that the previous owner died holding the mutex (WAIT_ABANDONED).
#pragma once

#include "kernel_handles.h"

#include <filesystem>
#include <optional>
#include <string>

namespace platform::kernel {

class MutexLockFile {
 public:
  // Opens (creating when needed) the lock file of a mutex name; nothing,
  // with the last error set, when it cannot be opened.
  static std::optional<MutexLockFile> Open(const std::string& name);

  MutexLockFile(MutexLockFile&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  MutexLockFile& operator=(MutexLockFile&&) = delete;
  MutexLockFile(const MutexLockFile&) = delete;
  ~MutexLockFile();

  enum class Result { kLocked, kAbandoned, kTimeout, kFailed };
  // Takes the lock, waiting until the deadline. kAbandoned: taken, and the
  // previous owner had not let go.
  Result Lock(const Deadline& deadline);
  // Lets go. released: the owner let go properly; false leaves the mark of
  // an abandoned mutex for the next owner.
  void Unlock(bool released);

  // The file that holds a name's lock (exposed for tests).
  static std::filesystem::path PathFor(const std::string& name);

 private:
  explicit MutexLockFile(int fd) : m_fd(fd) {}
  int m_fd;
};

}  // namespace platform::kernel
