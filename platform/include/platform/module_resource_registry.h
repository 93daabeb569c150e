// A registry of resource arrays by module: each module registers the arrays
// compiled into it, and lookups by instance handle and number find them.
// Every kind of resource (string tables, dialog templates, images) has one
// registry in the process, reached through a function of the platform
// library that looks its entries up.
#pragma once

#include <algorithm>
#include <mutex>
#include <span>
#include <vector>

#include "common/non_copyable.h"
#include "platform/module_handle.h"

namespace platform {

template <class Entry>
class ModuleResourceRegistry {
 public:
  // The module is the one whose mapping holds the entries.
  HINSTANCE Add(std::span<const Entry> entries) {
    const HINSTANCE module = ModuleOfAddress(entries.data());
    std::lock_guard lock(m_mutex);
    m_tables.push_back({module, entries});
    return module;
  }

  void Remove(HINSTANCE module, std::span<const Entry> entries) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_tables, [&](const Table& t) {
      return t.module == module && t.entries.data() == entries.data();
    });
  }

  // The first entry of the module that matches; nullptr when none does.
  template <class Match>
  const Entry* Find(HINSTANCE module, Match match) const {
    std::lock_guard lock(m_mutex);
    for (const Table& table : m_tables) {
      if (table.module != module) continue;
      const auto found = std::find_if(table.entries.begin(), table.entries.end(), match);
      if (found != table.entries.end()) return &*found;
    }
    return nullptr;
  }

 private:
  struct Table {
    HINSTANCE module;
    std::span<const Entry> entries;
  };
  mutable std::mutex m_mutex;
  std::vector<Table> m_tables;
};

// Registers the entries of the module holding them (the module is found from
// their address) with Registry() for the lifetime of the object. The entries
// must outlive it; a static array beside the registration does.
template <class Entry, ModuleResourceRegistry<Entry>& (*Registry)()>
class ModuleResourceRegistration : private NonCopyable {
 public:
  explicit ModuleResourceRegistration(std::span<const Entry> entries)
      : m_module(Registry().Add(entries)), m_entries(entries) {}
  ~ModuleResourceRegistration() { Registry().Remove(m_module, m_entries); }

  HINSTANCE Module() const { return m_module; }

 private:
  HINSTANCE m_module;
  std::span<const Entry> m_entries;
};

}  // namespace platform
