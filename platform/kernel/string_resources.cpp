// String tables of the loaded modules, by instance handle.
#include <cstring>

#include "platform/resources.h"

namespace platform {

ModuleResourceRegistry<StringResource>& StringTables() {
  static ModuleResourceRegistry<StringResource> registry;
  return registry;
}

const char* FindStringResource(HINSTANCE module, UINT id) {
  const StringResource* entry = StringTables().Find(
      module, [id](const StringResource& e) { return e.id == id && e.text != nullptr; });
  return entry != nullptr ? entry->text : nullptr;
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
