#include "reader_watcher.h"

#include <chrono>
#include <cstring>
#include <system_error>

#include "change_events.h"
#include "module_state.h"
#include "platform/handle_guards.h"
#include "platform/winscard_ext.h"
#include "reader_state.h"

std::atomic<BYTE> WatcherStop{0};

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(2000);
constexpr DWORD kInsertedState = SCARD_STATE_PRESENT | SCARD_STATE_CHANGED;

// Whether the reader's change is a card to read: present and changed, and
// not held by another program alone (exclusive), mute or unavailable. The
// card's shared use (SCARD_STATE_INUSE, for instance by a population of
// this process) does not hide an insertion, and a card that only went in
// or out of shared use, with the reader's event count unchanged, is the
// same card as before and no insertion.
bool CardInserted(DWORD before, DWORD now) {
  if (((now & 0xFFFF) & ~DWORD{SCARD_STATE_INUSE}) != kInsertedState) return false;
  const bool sameCardInSharedUse = (before & SCARD_STATE_PRESENT) != 0 &&
                                   (before & SCARD_STATE_EXCLUSIVE) == 0 &&
                                   (before >> 16) == (now >> 16);
  return !sameCardInSharedUse;
}

}  // namespace

LONG PollReadersOnce(SCARDCONTEXT context) {
  // The poll works on a copy of the listed entries, so that the state lock
  // is never held while the resource manager answers.
  SCARD_READERSTATEA polled[kMaxReaders];
  DWORD count = 0;
  {
    std::lock_guard state(ReaderStateLock());
    count = ReaderCount;
    std::memcpy(static_cast<void*>(polled), ReaderStateTable, count * sizeof polled[0]);
  }
  const LONG rv = SCardGetStatusChangeA(context, 0, polled, count);
  if (rv != SCARD_S_SUCCESS) return rv;
  std::size_t inserted = 0;
  {
    std::lock_guard state(ReaderStateLock());
    // Entries listed meanwhile are left for the next poll.
    for (DWORD i = 0; i < count && i < ReaderCount; ++i) {
      SCARD_READERSTATEA& entry = ReaderStateTable[i];
      if (CardInserted(entry.dwCurrentState, polled[i].dwEventState)) {
        ReaderChanged[i] = 1;
        ++inserted;
      }
      entry.dwEventState = polled[i].dwEventState;
      entry.cbAtr = polled[i].cbAtr;
      std::memcpy(entry.rgbAtr, polled[i].rgbAtr, sizeof entry.rgbAtr);
      entry.dwCurrentState = entry.dwEventState;
    }
  }
  // Once per reader that reported an insertion, outside the state lock.
  for (std::size_t n = 0; n < inserted; ++n) SignalChangeEvents();
  return rv;
}

void ReaderWatcherThread() {
  CResourceManagerContext context;
  if (context.Establish(SCARD_SCOPE_USER) != SCARD_S_SUCCESS) return;
  while (WatcherStop == 0) {
    PollReadersOnce(context.Get());
    TheModuleState().watcher.SleepBetweenPolls();
  }
}

bool ReaderWatcher::Start() {
  if (m_thread.joinable()) {
    if (WatcherStop == 0) return true;
    m_thread.join();  // left finishing its last poll by a stop request
  }
  WatcherStop = 0;
  try {
    m_thread = std::thread(ReaderWatcherThread);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void ReaderWatcher::RequestStop() {
  {
    // Under the mutex: the thread is either before its check of the flag or
    // already waiting, so the wake-up is never lost.
    std::lock_guard lock(m_mutex);
    WatcherStop = 1;
  }
  m_wake.notify_all();
}

void ReaderWatcher::Stop() {
  RequestStop();
  if (!m_thread.joinable()) return;
  if (m_thread.get_id() == std::this_thread::get_id()) {
    m_thread.detach();
  } else {
    m_thread.join();
  }
}

void ReaderWatcher::SleepBetweenPolls() {
  std::unique_lock lock(m_mutex);
  m_wake.wait_for(lock, kPollInterval, [] { return WatcherStop != 0; });
}

bool StartReaderWatcher() { return TheModuleState().watcher.Start(); }

void RequestReaderWatcherStop() { TheModuleState().watcher.RequestStop(); }

void StopReaderWatcher() { TheModuleState().watcher.Stop(); }

bool ReaderWatcherRunning() { return TheModuleState().watcher.Running(); }
