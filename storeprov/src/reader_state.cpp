#include "reader_state.h"

#include <cstring>

SCARD_READERSTATEA ReaderStateTable[kMaxReaders];
DWORD ReaderCount = 0;
BYTE ReaderChanged[kMaxReaders];

namespace {

// The records of the table entries; pvUserData points at the same objects.
std::array<std::unique_ptr<CCardCertCache>, kMaxReaders> g_caches;
// The heap copies of the reader names that szReader points at.
std::array<std::unique_ptr<char[]>, kMaxReaders> g_names;

}  // namespace

std::mutex& ReaderStateLock() {
  static std::mutex lock;
  return lock;
}

std::mutex& ReaderExaminationLock(std::size_t reader) {
  static std::array<std::mutex, kMaxReaders> locks;
  return locks[reader];
}

CCardCertCache* ReaderCache(std::size_t reader) { return g_caches[reader].get(); }

void SetReaderCache(std::size_t reader, std::unique_ptr<CCardCertCache> cache) {
  std::unique_ptr<CCardCertCache> old;
  {
    std::lock_guard state(ReaderStateLock());
    old = std::move(g_caches[reader]);
    g_caches[reader] = std::move(cache);
    ReaderStateTable[reader].pvUserData = g_caches[reader].get();
  }
  // The old record is destroyed outside the state lock.
}

void InitializeReaderState() {
  std::lock_guard state(ReaderStateLock());
  std::memset(static_cast<void*>(ReaderStateTable), 0, sizeof ReaderStateTable);
  ReaderCount = 0;
  std::memset(ReaderChanged, 1, sizeof ReaderChanged);
  for (auto& cache : g_caches) cache.reset();
  for (auto& name : g_names) name.reset();
}

void ReleaseReaderCaches() {
  for (std::size_t i = 0; i < kMaxReaders; ++i) {
    std::lock_guard examination(ReaderExaminationLock(i));
    SetReaderCache(i, nullptr);
  }
}

std::size_t ListReadersIntoTable(const char* readers) {
  std::size_t taken = 0;
  std::lock_guard state(ReaderStateLock());
  for (const char* name = readers; name != nullptr && *name != '\0' && ReaderCount < kMaxReaders;
       name += std::strlen(name) + 1) {
    const std::size_t length = std::strlen(name);
    auto copy = std::make_unique<char[]>(length + 1);
    std::memcpy(copy.get(), name, length + 1);
    SCARD_READERSTATEA& entry = ReaderStateTable[ReaderCount];
    entry.szReader = copy.get();
    entry.pvUserData = nullptr;
    entry.dwCurrentState = SCARD_STATE_UNAWARE;
    g_names[ReaderCount] = std::move(copy);
    ++ReaderCount;
    ++taken;
  }
  return taken;
}
