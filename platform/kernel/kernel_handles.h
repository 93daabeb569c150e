// The handle table of the kernel objects: events, mutexes and threads.
#pragma once

#include "platform/kernel_objects.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace platform::kernel {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED (with the
  // last error set).
  virtual DWORD Wait(DWORD milliseconds) = 0;
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// False when the handle is unknown.
bool RemoveHandle(HANDLE handle);

// The object of type T behind a handle; null, with the last error
// ERROR_INVALID_HANDLE, when the handle is unknown or of another type.
template <class T>
std::shared_ptr<T> FindHandleOf(HANDLE handle) {
  auto object = std::dynamic_pointer_cast<T>(FindHandle(handle));
  if (!object) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

// The moment a wait of `milliseconds` ends; nothing for INFINITE.
using Deadline = std::optional<std::chrono::steady_clock::time_point>;
inline Deadline DeadlineAfter(DWORD milliseconds) {
  if (milliseconds == INFINITE) return std::nullopt;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

// Waits on `changed`, with `lock` held around each test, until ready()
// holds; false when the deadline came first.
template <class Ready>
bool WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& lock,
               const Deadline& deadline, Ready ready) {
  if (!deadline) {
    changed.wait(lock, ready);
    return true;
  }
  return changed.wait_until(lock, *deadline, ready);
}

}  // namespace platform::kernel
