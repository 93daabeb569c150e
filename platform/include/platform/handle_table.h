// Tables that turn objects into opaque handle values for callers: the kernel
// objects, and the providers' contexts, keys and hashes. A handle is never
// reused within a process, so a freed handle or a forged one is refused
// instead of being dereferenced. Tables are created once and never destroyed
// (HandleTableOf), so that handles released by static destructors at process
// end still meet a live table.
#pragma once

#include "platform/win32.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

template <class T>
class HandleTable {
 public:
  // Hands out first, first + step, first + 2 * step, ...
  HandleTable(ULONG_PTR first, ULONG_PTR step) : m_next(first), m_step(step) {}
  // Handles whose low four bits are kind: 1..15, distinct for every table
  // that hands out values of one type, so that a handle of another kind is
  // refused too.
  explicit HandleTable(unsigned kind) : HandleTable(0x1010 | kind, 0x10) {}

  ULONG_PTR Add(std::shared_ptr<T> object) {
    std::lock_guard lock(m_mutex);
    const ULONG_PTR handle = m_next;
    m_next += m_step;
    m_objects.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<T> Get(ULONG_PTR handle) const {
    std::lock_guard lock(m_mutex);
    auto it = m_objects.find(handle);
    return it == m_objects.end() ? nullptr : it->second;
  }

  // Removes the handle and hands back its object (null when unknown), so
  // that the object is destroyed outside the table's lock.
  std::shared_ptr<T> Take(ULONG_PTR handle) {
    std::lock_guard lock(m_mutex);
    auto it = m_objects.find(handle);
    if (it == m_objects.end()) return nullptr;
    auto object = std::move(it->second);
    m_objects.erase(it);
    return object;
  }

 private:
  mutable std::mutex m_mutex;
  std::unordered_map<ULONG_PTR, std::shared_ptr<T>> m_objects;
  ULONG_PTR m_next;
  const ULONG_PTR m_step;
};

// The table of the handles of kind kKind to objects of type T, made at its
// first use and never destroyed.
template <class T, unsigned kKind>
HandleTable<T>& HandleTableOf() {
  static auto& table = *new HandleTable<T>(kKind);
  return table;
}

}  // namespace platform
