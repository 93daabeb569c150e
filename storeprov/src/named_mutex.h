// A mutex shared by every process that opens one of the same name, and a
// scope guard that releases it. Reading the card of one reader is serialised
// across threads and processes with one of these per reader.
#pragma once

#include <string>

#include "common/non_copyable.h"
#include "platform/win32.h"

class CNamedMutex : private NonCopyable {
 public:
  // Opens (or creates, never owned) the mutex of that name. A mutex that
  // cannot be had leaves the handle null; Lock and Unlock then succeed
  // without doing anything.
  explicit CNamedMutex(const char* name);
  virtual ~CNamedMutex();

  // Waits without time limit; true only when the mutex was acquired.
  bool Lock();
  bool Unlock();
  HANDLE Handle() const { return m_handle; }

 private:
  HANDLE m_handle = nullptr;
};

// Does not lock on construction; releases the mutex when it goes.
class CMutexLock : private NonCopyable {
 public:
  explicit CMutexLock(CNamedMutex* mutex) : m_mutex(mutex) {}
  virtual ~CMutexLock() {
    if (m_mutex != nullptr) m_mutex->Unlock();
  }

 private:
  CNamedMutex* m_mutex;
};

inline constexpr char kReaderMutexPrefix[] = "ORVEL221001";
// Size of the mutex name, terminator included.
inline constexpr std::size_t kMutexNameSize = 256;

// "ORVEL221001" followed by the reader name. A reader name too long for the
// 256-character name keeps as much of itself as fits before a digest of the
// whole name, so that each such reader still has a mutex of its own.
std::string ReaderMutexName(const char* readerName);
