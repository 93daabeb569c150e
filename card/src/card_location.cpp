// Finding the readers that hold the card.
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "card/card_connection.h"
#include "platform/handle_guards.h"

bool FindReadersWithCard(SCARDCONTEXT context, LPCSTR cardNames,
                         std::unique_ptr<char[]>* matchingReaders, DWORD* matchCount) {
  if (matchingReaders != nullptr) matchingReaders->reset();
  if (matchCount != nullptr) *matchCount = 0;
  if (cardNames == nullptr) return false;

  CReaderNames readers(context);
  if (readers.List() != SCARD_S_SUCCESS || readers.Get() == nullptr) return false;

  CReaderStateList states;
  if (states.Build(readers.Get()).Count() == 0) return false;
  if (SCardLocateCardsA(context, cardNames, states.States(), static_cast<DWORD>(states.Count())) !=
      SCARD_S_SUCCESS) {
    return false;
  }

  // Each matching name with its terminator; the list's own terminator is
  // added when it is handed out.
  std::string matches;
  DWORD count = 0;
  try {
    for (std::int32_t i = 0; i < states.Count(); ++i) {
      const SCARD_READERSTATEA& state = states.States()[i];
      if ((state.dwEventState & SCARD_STATE_ATRMATCH) == 0) continue;
      matches.append(state.szReader);
      matches.push_back('\0');
      ++count;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (count == 0) return false;

  if (matchingReaders != nullptr) {
    try {
      auto out = std::make_unique<char[]>(matches.size() + 1);  // zero-filled
      std::memcpy(out.get(), matches.data(), matches.size());
      *matchingReaders = std::move(out);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  if (matchCount != nullptr) *matchCount = count;
  return true;
}
