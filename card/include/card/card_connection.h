// Opening the smart-card resource manager, finding the reader that holds the
// card and connecting to it. Stateless free functions; every context, handle
// and list belongs to the caller.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/non_copyable.h"
#include "platform/winscard_ext.h"

// The card's name in the resource manager's card database, as a multi-string:
// the name, its terminator and the terminator of the list.
inline constexpr char kCardName[] = "DRAV-NOR\0";

// String-table entry of the calling deliverable that titles the
// card-selection dialog (used by ConnectToCard, in orvel_card_ui). The card library is built once
// and linked into each deliverable; each deliverable defines this constant beside its string table
// (hidden, so each module keeps its own).
extern const UINT CardSelectionTitleId __attribute__((visibility("hidden")));

// A context in user scope, or failing that in system scope.
bool EstablishCardContext(SCARDCONTEXT* context);
bool ReleaseCardContext(SCARDCONTEXT context);

// The names of all readers, as a multi-string allocated by the resource
// manager (release it with SCardFreeMemory). cardName is not used. False, with
// *readers null, when no list was obtained.
bool ListCardReaders(SCARDCONTEXT context, LPCSTR cardName, LPSTR* readers);

// Reader states for SCardLocateCardsA: one record per reader name, each
// pointing at a copy of its name owned by the list, every other member zero.
class CReaderStateList : private NonCopyable {
 public:
  CReaderStateList() = default;
  ~CReaderStateList() { Clear(); }

  // Replaces the contents with one record per name of the multi-string.
  // The list is left empty when there are no names or memory runs out.
  CReaderStateList& Build(LPCSTR readers);
  void Clear();

  SCARD_READERSTATEA* States() { return m_states.empty() ? nullptr : m_states.data(); }
  std::int32_t Count() const { return m_count; }

 private:
  std::vector<SCARD_READERSTATEA> m_states;
  std::vector<std::unique_ptr<char[]>> m_names;
  std::int32_t m_count = 0;
};

// True when at least one reader holds a card of one of the names. The
// matching readers come back, in reader-list order, as a multi-string (each
// name, its terminator, then one more terminator) when matchingReaders is
// given, and their number in matchCount; null and 0 when there is none.
bool FindReadersWithCard(SCARDCONTEXT context, LPCSTR cardNames,
                         std::unique_ptr<char[]>* matchingReaders, DWORD* matchCount);

// Connects to the card in that reader, shared, with T=0.
bool ConnectReader(SCARDCONTEXT context, LPCSTR readerName, SCARDHANDLE* card);

// Connects to the card of one of the names: directly when one reader holds
// such a card, through the card-selection dialog when several do. The card
// handle goes to *card when card is given. It comes with orvel_card_ui, the
// part of the card library with a user interface, which only the
// deliverables link; components loaded into other programs link orvel_card
// alone and find their reader themselves.
bool ConnectToCard(SCARDCONTEXT context, LPCSTR cardNames, SCARDHANDLE* card);

bool DisconnectCard(SCARDHANDLE card, DWORD disposition);
