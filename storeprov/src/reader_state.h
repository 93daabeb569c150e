// Process-wide reader state of the store provider: the readers listed so far,
// which of them must be examined at the next population, and the certificate
// cache of each. Created at the module's first process attach, shared by the
// populations (application threads) and the watcher thread.
//
// Guarding: ReaderStateLock covers the table entries, ReaderCount and
// ReaderChanged, and is held only for short updates and for the watcher's
// poll (which does not wait). ReaderExaminationLock(i) is held by a
// population for the whole examination of reader i, so that two populations
// in one process never replace or use a reader's cache record under each
// other's feet; records are replaced and destroyed only under both locks.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>

#include "card_cert_cache.h"
#include "platform/winscard_ext.h"

inline constexpr std::size_t kMaxReaders = 16;

extern SCARD_READERSTATEA ReaderStateTable[kMaxReaders];
extern DWORD ReaderCount;
extern BYTE ReaderChanged[kMaxReaders];

std::mutex& ReaderStateLock();
std::mutex& ReaderExaminationLock(std::size_t reader);

// The cache record of entry i (the table owns it; pvUserData mirrors it).
CCardCertCache* ReaderCache(std::size_t reader);
// Replaces the record of entry i (destroying the old one). Call with both
// locks of the entry held.
void SetReaderCache(std::size_t reader, std::unique_ptr<CCardCertCache> cache);

// First process attach: every entry zero, every reader flagged as changed,
// no records. Reader names kept from an earlier life of the state are freed.
void InitializeReaderState();
// Last process detach: destroys the records of the listed readers. The
// reader names and the rest of the table stay.
void ReleaseReaderCaches();

// Appends the names of a reader multi-string to the table while there is
// room; returns how many were taken.
std::size_t ListReadersIntoTable(const char* readers);
