// Owner of one POSIX file descriptor: closed when the owner goes.
#pragma once

#include <unistd.h>

#include <utility>

#include "common/non_copyable.h"

namespace cardsim {

class UniqueFd : private NonCopyable {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_fd, -1));
    return *this;
  }

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  explicit operator bool() const { return Valid(); }
  int Release() { return std::exchange(m_fd, -1); }
  void Reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

}  // namespace cardsim
