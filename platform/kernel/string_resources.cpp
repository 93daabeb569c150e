// String tables of the loaded modules, by instance handle.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/module_handle.h"
#include "platform/resources.h"

namespace platform {
namespace {

struct RegisteredTable {
  HINSTANCE module;
  std::span<const StringResource> entries;
};

struct Registry {
  std::mutex mutex;
  std::vector<RegisteredTable> tables;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

StringTableRegistration::StringTableRegistration(std::span<const StringResource> entries)
    : m_module(ModuleOfAddress(entries.data())), m_entries(entries) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.tables.push_back({m_module, m_entries});
}

StringTableRegistration::~StringTableRegistration() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto& tables = registry.tables;
  tables.erase(std::remove_if(tables.begin(), tables.end(),
                              [this](const RegisteredTable& t) {
                                return t.module == m_module && t.entries.data() == m_entries.data();
                              }),
               tables.end());
}

const char* FindStringResource(HINSTANCE module, UINT id) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (const RegisteredTable& table : registry.tables) {
    if (table.module != module) continue;
    for (const StringResource& entry : table.entries) {
      if (entry.id == id && entry.text != nullptr) return entry.text;
    }
  }
  return nullptr;
}

}  // namespace platform

extern "C" int LoadStringA(HINSTANCE module, UINT id, LPSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = '\0';
  const char* text = platform::FindStringResource(module, id);
  if (text == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  std::size_t length = std::strlen(text);
  const auto room = static_cast<std::size_t>(bufferMax - 1);
  if (length > room) {
    length = room;
    // Step back over UTF-8 continuation bytes so that no character is cut.
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}
