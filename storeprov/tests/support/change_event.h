// A manual-reset event as a program registers it for change notification.
#pragma once

#include <chrono>
#include <optional>

#include "platform/kernel_objects.h"

namespace storeprov_test {

class Event {
 public:
  Event() : handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Event() { CloseHandle(handle_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE Get() const { return handle_; }
  HANDLE* Address() { return &handle_; }
  bool IsSet() const { return WaitForSingleObject(handle_, 0) == WAIT_OBJECT_0; }
  // How long it took to be set, or nothing within the limit.
  std::optional<std::chrono::milliseconds> WaitSet(std::chrono::milliseconds limit) const {
    const auto start = std::chrono::steady_clock::now();
    if (WaitForSingleObject(handle_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  }

 private:
  HANDLE handle_;
};

}  // namespace storeprov_test
