#include <cstring>
#include <new>

#include "card/card_connection.h"

CReaderStateList& CReaderStateList::Build(LPCSTR readers) {
  Clear();
  if (readers == nullptr) return *this;
  std::int32_t count = 0;
  for (const char* name = readers; *name != '\0'; name += std::strlen(name) + 1) ++count;
  if (count == 0) return *this;
  try {
    m_states.assign(static_cast<std::size_t>(count), SCARD_READERSTATEA{});
    m_names.reserve(static_cast<std::size_t>(count));
    const char* name = readers;
    for (SCARD_READERSTATEA& state : m_states) {
      const std::size_t length = std::strlen(name);
      auto copy = std::make_unique<char[]>(length + 1);
      std::memcpy(copy.get(), name, length + 1);
      state.dwCurrentState = SCARD_STATE_UNAWARE;
      state.szReader = copy.get();
      m_names.push_back(std::move(copy));
      name += length + 1;
    }
  } catch (const std::bad_alloc&) {
    Clear();
    return *this;
  }
  m_count = count;
  return *this;
}

void CReaderStateList::Clear() {
  m_states.clear();
  m_names.clear();
  m_count = 0;
}
