#include "reader_state.h"

#include <cstring>

#include "module_state.h"

SCARD_READERSTATEA ReaderStateTable[kMaxReaders];
DWORD ReaderCount = 0;
BYTE ReaderChanged[kMaxReaders];

namespace {

ReaderRecords& Records() { return TheModuleState().readers; }

}  // namespace

std::mutex& ReaderStateLock() { return Records().stateLock; }

std::mutex& ReaderExaminationLock(std::size_t reader) { return Records().examinationLocks[reader]; }

CCardCertCache* ReaderCache(std::size_t reader) {
  std::lock_guard state(ReaderStateLock());
  return Records().caches[reader].get();
}

std::shared_ptr<const CCardCertCache> ShareReaderCache(std::size_t reader) {
  std::lock_guard state(ReaderStateLock());
  return ShareReaderCacheLocked(reader);
}

std::shared_ptr<const CCardCertCache> ShareReaderCacheLocked(std::size_t reader) {
  return Records().caches[reader];
}

std::uint64_t ReaderStateLife() { return Records().life; }

bool SetReaderCache(std::size_t reader, std::shared_ptr<CCardCertCache> cache, std::uint64_t life) {
  std::shared_ptr<CCardCertCache> old;
  {
    std::lock_guard state(ReaderStateLock());
    ReaderRecords& records = Records();
    if (records.life != life) return false;
    old = std::move(records.caches[reader]);
    records.caches[reader] = std::move(cache);
    ReaderStateTable[reader].pvUserData = records.caches[reader].get();
  }
  // The old record goes outside the state lock (or with its last user).
  return true;
}

void InitializeReaderState() {
  std::array<std::shared_ptr<CCardCertCache>, kMaxReaders> caches;
  std::array<std::unique_ptr<char[]>, kMaxReaders> names;
  {
    std::lock_guard state(ReaderStateLock());
    ReaderRecords& records = Records();
    std::memset(static_cast<void*>(ReaderStateTable), 0, sizeof ReaderStateTable);
    ReaderCount = 0;
    std::memset(ReaderChanged, 1, sizeof ReaderChanged);
    caches.swap(records.caches);
    names.swap(records.names);
    ++records.life;
  }
}

void ReleaseReaderCaches() {
  std::array<std::shared_ptr<CCardCertCache>, kMaxReaders> caches;
  {
    std::lock_guard state(ReaderStateLock());
    ReaderRecords& records = Records();
    caches.swap(records.caches);
    for (std::size_t i = 0; i < kMaxReaders; ++i) ReaderStateTable[i].pvUserData = nullptr;
    ++records.life;
  }
}

std::size_t ListReadersIntoTable(const char* readers) {
  std::size_t taken = 0;
  std::lock_guard state(ReaderStateLock());
  ReaderRecords& records = Records();
  for (const char* name = readers; name != nullptr && *name != '\0' && ReaderCount < kMaxReaders;
       name += std::strlen(name) + 1) {
    const std::size_t length = std::strlen(name);
    auto copy = std::make_unique<char[]>(length + 1);
    std::memcpy(copy.get(), name, length + 1);
    SCARD_READERSTATEA& entry = ReaderStateTable[ReaderCount];
    entry.szReader = copy.get();
    entry.pvUserData = nullptr;
    entry.dwCurrentState = SCARD_STATE_UNAWARE;
    records.names[ReaderCount] = std::move(copy);
    ++ReaderCount;
    ++taken;
  }
  return taken;
}
