// SCardLocateCardsA over the card database: read every reader's state and
// ATR without waiting and compare the ATR with the named card types.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/card_database.h"
#include "platform/winscard_ext.h"

namespace {

// pcsc-lite takes at most this many reader states per SCardGetStatusChange.
constexpr DWORD kStatesPerCall = 16;

}  // namespace

extern "C" LONG SCardLocateCardsA(SCARDCONTEXT hContext, LPCSTR mszCards,
                                  LPSCARD_READERSTATEA rgReaderStates, DWORD cReaders) {
  if (mszCards == nullptr || (rgReaderStates == nullptr && cReaders != 0)) {
    return SCARD_E_INVALID_PARAMETER;
  }

  const std::vector<platform::CardType> known = platform::ListCardTypes();
  std::vector<const platform::CardType*> wanted;
  for (const char* name = mszCards; *name != '\0'; name += std::strlen(name) + 1) {
    const auto it = std::find_if(known.begin(), known.end(),
                                 [name](const platform::CardType& t) { return t.name == name; });
    if (it == known.end()) return SCARD_E_UNKNOWN_CARD;
    wanted.push_back(&*it);
  }
  if (cReaders == 0) return SCARD_S_SUCCESS;

  // Ask for the present state of every reader: with an unaware current state
  // the resource manager answers at once.
  std::vector<SCARD_READERSTATEA> probe(rgReaderStates, rgReaderStates + cReaders);
  for (SCARD_READERSTATEA& state : probe) {
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    state.dwEventState = 0;
  }
  for (DWORD first = 0; first < cReaders; first += kStatesPerCall) {
    const DWORD n = std::min(kStatesPerCall, cReaders - first);
    const LONG rv = SCardGetStatusChange(hContext, 0, probe.data() + first, n);
    if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) return rv;
  }

  for (DWORD i = 0; i < cReaders; ++i) {
    const SCARD_READERSTATEA& seen = probe[i];
    SCARD_READERSTATEA& out = rgReaderStates[i];
    const DWORD atrLength = std::min<DWORD>(seen.cbAtr, sizeof(seen.rgbAtr));
    DWORD event =
        seen.dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED | SCARD_STATE_ATRMATCH);
    if ((event & SCARD_STATE_PRESENT) != 0) {
      for (const platform::CardType* type : wanted) {
        if (platform::AtrMatches(*type, seen.rgbAtr, atrLength)) {
          event |= SCARD_STATE_ATRMATCH;
          break;
        }
      }
    }
    const DWORD believed = out.dwCurrentState & 0xFFFF & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
    if ((event & 0xFFFF) != believed) event |= SCARD_STATE_CHANGED;
    out.dwEventState = event;
    out.cbAtr = atrLength;
    std::memcpy(out.rgbAtr, seen.rgbAtr, atrLength);
  }
  return SCARD_S_SUCCESS;
}
