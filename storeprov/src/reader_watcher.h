// The background thread that notices card insertions: it polls the listed
// readers every two seconds, flags a reader whose card has just been
// inserted for re-examination, and sets the registered change events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "common/non_copyable.h"
#include "platform/winscard_ext.h"

// 0 while the watcher is to run; 1 once the module's last detach asked it to
// stop.
extern std::atomic<BYTE> WatcherStop;

// The thread routine.
void ReaderWatcherThread();

// One poll of the listed readers (time-out 0): flags each reader whose state
// reads exactly "card present, changed" and sets the change events for it.
// Returns the poll's result.
LONG PollReadersOnce(SCARDCONTEXT context);

// The watcher thread of the process (one, owned by the module's state).
class ReaderWatcher : private NonCopyable {
 public:
  ReaderWatcher() = default;
  ~ReaderWatcher() { Stop(); }

  // Starts the thread (clearing WatcherStop), after joining one that an
  // earlier stop request left finishing its last poll.
  bool Start();
  // Sets WatcherStop and wakes the thread from its sleep; does not wait.
  void RequestStop();
  // RequestStop, then waits until the thread has left its loop.
  void Stop();
  bool Running() const { return m_thread.joinable(); }
  // Sleeps for the poll interval; WatcherStop ends the sleep at once.
  void SleepBetweenPolls();

 private:
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::thread m_thread;
};

// Starts the thread; false when it cannot be started.
bool StartReaderWatcher();
// Tells the thread to stop without waiting for it (the last detach: the
// module stays mapped, and the thread only finishes a poll that does not
// wait).
void RequestReaderWatcherStop();
// Tells the thread to stop and waits until it has left its loop.
void StopReaderWatcher();
bool ReaderWatcherRunning();
