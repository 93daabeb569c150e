// Tables that turn objects into opaque handle values for callers. A handle is
// never reused within a process, and its low bits name the table, so a freed
// handle, a forged one or a handle of another kind is refused instead of being
// dereferenced. Tables are created once and never destroyed, so that handles
// released by static destructors at process end still meet a live table.
#pragma once

#include "platform/win32.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform::crypt {

template <class T>
class HandleTable {
 public:
  // kind: 1..15, distinct for every table that hands out values of one type.
  explicit HandleTable(unsigned kind) : kind_(kind) {}

  ULONG_PTR Add(std::shared_ptr<T> object) {
    std::lock_guard lock(mutex_);
    ULONG_PTR handle = (++counter_ << 4) | kind_;
    objects_.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<T> Get(ULONG_PTR handle) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : it->second;
  }

  // Removes the handle and hands back its object (null when unknown).
  std::shared_ptr<T> Take(ULONG_PTR handle) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(handle);
    if (it == objects_.end()) return nullptr;
    auto object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  mutable std::mutex mutex_;
  std::unordered_map<ULONG_PTR, std::shared_ptr<T>> objects_;
  ULONG_PTR counter_ = 0x100;
  unsigned kind_;
};

}  // namespace platform::crypt
