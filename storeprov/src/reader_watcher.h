// The background thread that notices card insertions: it polls the listed
// readers every two seconds, flags a reader whose card has just been
// inserted for re-examination, and sets the registered change events.
#pragma once

#include <atomic>

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

// Starts the thread (clearing WatcherStop); false when it cannot be started.
bool StartReaderWatcher();
// Sets WatcherStop, wakes the thread from its sleep and waits until it has
// left its loop, so that the module's code can go away afterwards.
void StopReaderWatcher();
bool ReaderWatcherRunning();
