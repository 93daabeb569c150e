#include "populate_card_store.h"
#include "common/non_copyable.h"

#include <mutex>
#include <new>
#include <string>

#include "card/crypto_card.h"
#include "module_state.h"
#include "named_mutex.h"
#include "platform/handle_guards.h"
#include "platform/winscard_ext.h"
#include "platform/winuser.h"
#include "reader_state.h"
#include "storeprov/card_cert_cache.h"

namespace {

// The card stays as it is (powered, not reset) for other programs.
class SharedCardGuard : private NonCopyable {
 public:
  explicit SharedCardGuard(SCARDHANDLE card) : m_card(card) {}
  ~SharedCardGuard() { SCardDisconnect(m_card, SCARD_LEAVE_CARD); }

 private:
  SCARDHANDLE m_card;
};

// Shows the wait cursor until Restore or the end of the scope.
class WaitCursor : private NonCopyable {
 public:
  WaitCursor() : m_previous(GetCursor()) { SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }
  ~WaitCursor() { Restore(); }

  void Restore() {
    if (m_active) SetCursor(m_previous);
    m_active = false;
  }

 private:
  HCURSOR m_previous;
  bool m_active = true;
};

// Lists the readers once per life of the module; a failed listing is tried
// again at the next population.
void ListReadersOnce(SCARDCONTEXT context) {
  std::lock_guard lock(TheModuleState().readers.listing);
  {
    std::lock_guard state(ReaderStateLock());
    if (ReaderCount != 0) return;
  }
  CReaderNames readers(context);
  if (readers.List() != SCARD_S_SUCCESS) return;
  ListReadersIntoTable(readers.Get());
}

// Puts the reader's changed flag back unless the card was examined.
class ChangedFlagClaim : private NonCopyable {
 public:
  explicit ChangedFlagClaim(std::size_t reader) : m_reader(reader) {}
  ~ChangedFlagClaim() {
    if (m_examined) return;
    std::lock_guard state(ReaderStateLock());
    ReaderChanged[m_reader] = 1;
  }

  void Examined() { m_examined = true; }

 private:
  std::size_t m_reader;
  bool m_examined = false;
};

// Connects to the reader's card and reads it when the cache cannot stand in
// for it. Called with the reader's examination lock held. The records it
// uses are shared: a last detach meanwhile leaves them to this population,
// which releases them when it is done, and what it read in an earlier life
// of the state is not stored.
void ExamineReader(SCARDCONTEXT context, std::size_t i) {
  std::string readerName;
  std::uint64_t life = 0;
  std::shared_ptr<const CCardCertCache> old;
  {
    std::lock_guard state(ReaderStateLock());
    if (i >= ReaderCount) return;
    old = ShareReaderCacheLocked(i);
    const bool examine = ReaderChanged[i] == 1 || (old != nullptr && old->Empty());
    if (!examine) return;
    readerName = ReaderStateTable[i].szReader;
    life = ReaderStateLife();
    // The flag is taken now, so that an insertion that the watcher reports
    // while this card is being read flags the reader again instead of being
    // cleared with it.
    ReaderChanged[i] = 0;
  }
  ChangedFlagClaim claim(i);

  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardConnectA(context, readerName.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card,
                    &protocol) != SCARD_S_SUCCESS) {
    return;
  }
  SharedCardGuard connection(card);
  // Every command to the card goes under the reader's mutex: a command of
  // another process between a SELECT and its GET RESPONSE would take the
  // card's pending answer. Read also when the wait failed: the mutex only
  // keeps readers apart. The wait cursor shows from the wait for the mutex
  // to the end of the read, and goes at once when the cache stands in for
  // the card.
  WaitCursor waitCursor;
  CNamedMutex mutex(ReaderMutexName(readerName.c_str()).c_str());
  CMutexLock lock(&mutex);
  mutex.Lock();
  CCryptoCard object(card);
  ChipInfo identifier{};
  // A card that does not answer is known by the zero identifier.
  object.GetChipInfo(&identifier);
  auto fresh = std::make_shared<CCardCertCache>(identifier);

  if (fresh->SameCard(old.get()) && !old->Empty() && old->Complete()) {
    waitCursor.Restore();
  } else {
    if (!SetReaderCache(i, nullptr, life)) return;
    old.reset();
    fresh->ReadFromCard(object);
    waitCursor.Restore();
    const bool complete = fresh->Complete();
    if (!SetReaderCache(i, std::move(fresh), life)) return;
    // A read cut short (card pulled out or reset) shows what it got, and the
    // reader stays flagged so that the next population reads the card
    // again, even when the same card is back.
    if (!complete) return;
  }
  claim.Examined();
}

}  // namespace

BOOL PopulateCardStore(HCERTSTORE store) {
  CResourceManagerContext context;
  if (context.Establish(SCARD_SCOPE_USER) != SCARD_S_SUCCESS) return FALSE;
  ListReadersOnce(context.Get());

  std::size_t count = 0;
  {
    std::lock_guard state(ReaderStateLock());
    count = ReaderCount;
  }
  for (std::size_t i = 0; i < count; ++i) {
    std::lock_guard examination(ReaderExaminationLock(i));
    try {
      ExamineReader(context.Get(), i);
    } catch (const std::bad_alloc&) {
      // Out of memory while reading: the reader keeps its flag and whatever
      // record it still has.
    }
    if (const auto cache = ShareReaderCache(i)) cache->AddToStore(store);
  }
  return TRUE;
}
