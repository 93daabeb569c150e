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
  explicit HandleTable(unsigned kind) : m_kind(kind) {}

  ULONG_PTR Add(std::shared_ptr<T> object) {
    std::lock_guard lock(m_mutex);
    ULONG_PTR handle = (++m_counter << 4) | m_kind;
    m_objects.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<T> Get(ULONG_PTR handle) const {
    std::lock_guard lock(m_mutex);
    auto it = m_objects.find(handle);
    return it == m_objects.end() ? nullptr : it->second;
  }

  // Removes the handle and hands back its object (null when unknown).
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
  ULONG_PTR m_counter = 0x100;
  unsigned m_kind;
};

}  // namespace platform::crypt
