#include "reader_watcher.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "change_events.h"
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

struct Watcher {
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;

  ~Watcher() {
    // A process that ends without the last detach still stops the thread
    // before its code and this object go.
    if (thread.joinable()) {
      WatcherStop = 1;
      wake.notify_all();
      thread.join();
    }
  }
};

Watcher& TheWatcher() {
  static Watcher watcher;
  return watcher;
}

// Sleeps for the poll interval; WatcherStop ends the sleep early.
void SleepBetweenPolls() {
  Watcher& watcher = TheWatcher();
  std::unique_lock lock(watcher.mutex);
  watcher.wake.wait_for(lock, kPollInterval, [] { return WatcherStop != 0; });
}

}  // namespace

LONG PollReadersOnce(SCARDCONTEXT context) {
  std::size_t inserted = 0;
  LONG rv;
  {
    std::lock_guard state(ReaderStateLock());
    rv = SCardGetStatusChangeA(context, 0, ReaderStateTable, ReaderCount);
    if (rv != SCARD_S_SUCCESS) return rv;
    for (DWORD i = 0; i < ReaderCount; ++i) {
      SCARD_READERSTATEA& entry = ReaderStateTable[i];
      if (CardInserted(entry.dwCurrentState, entry.dwEventState)) {
        ReaderChanged[i] = 1;
        ++inserted;
      }
      entry.dwCurrentState = entry.dwEventState;
    }
  }
  // Once per reader that reported an insertion, outside the state lock.
  for (std::size_t n = 0; n < inserted; ++n) SignalChangeEvents();
  return rv;
}

void ReaderWatcherThread() {
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
    return;
  }
  while (WatcherStop == 0) {
    PollReadersOnce(context);
    SleepBetweenPolls();
  }
  SCardReleaseContext(context);
}

bool StartReaderWatcher() {
  Watcher& watcher = TheWatcher();
  if (watcher.thread.joinable()) return true;
  WatcherStop = 0;
  try {
    watcher.thread = std::thread(ReaderWatcherThread);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void StopReaderWatcher() {
  Watcher& watcher = TheWatcher();
  {
    std::lock_guard lock(watcher.mutex);
    WatcherStop = 1;
  }
  watcher.wake.notify_all();
  if (watcher.thread.joinable() && watcher.thread.get_id() != std::this_thread::get_id()) {
    watcher.thread.join();
  }
}

bool ReaderWatcherRunning() { return TheWatcher().thread.joinable(); }
