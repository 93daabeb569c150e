// A manual-reset event as a program registers it for change notification.
#pragma once

#include <chrono>
#include <optional>

#include "common/non_copyable.h"
#include "platform/kernel_objects.h"

namespace storeprov_test {

class Event : private NonCopyable {
 public:
  Event() : m_handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() { CloseHandle(m_handle); }
  HANDLE Get() const { return m_handle; }
  HANDLE* Address() { return &m_handle; }
  bool IsSet() const { return WaitForSingleObject(m_handle, 0) == WAIT_OBJECT_0; }
  // How long it took to be set, or nothing within the limit.
  std::optional<std::chrono::milliseconds> WaitSet(std::chrono::milliseconds limit) const {
    const auto start = std::chrono::steady_clock::now();
    if (WaitForSingleObject(m_handle, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  }

 private:
  HANDLE m_handle;
};

}  // namespace storeprov_test
