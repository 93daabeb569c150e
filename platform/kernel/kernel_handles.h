// The handle table of the kernel objects: events, mutexes and threads.
#pragma once

#include "platform/kernel_objects.h"

#include <chrono>
#include <memory>
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

template <class T>
std::shared_ptr<T> FindHandleOf(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

// The moment a wait of `milliseconds` ends; nothing for INFINITE.
using Deadline = std::optional<std::chrono::steady_clock::time_point>;
inline Deadline DeadlineAfter(DWORD milliseconds) {
  if (milliseconds == INFINITE) return std::nullopt;
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

}  // namespace platform::kernel
