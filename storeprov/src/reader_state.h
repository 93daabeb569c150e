// Process-wide reader state of the store provider: the readers listed so far,
// which of them must be examined at the next population, and the certificate
// cache of each. Created at the module's first process attach, shared by the
// populations (application threads) and the watcher thread.
//
// Guarding: ReaderStateLock covers the table entries, ReaderCount,
// ReaderChanged and the records, and is held only for short updates, never
// while waiting. ReaderExaminationLock(i) is held by a population for the
// whole examination of reader i, so that two populations in one process
// never replace a reader's record under each other's feet. Only populations
// take it: the detach takes nothing a population may hold while it waits
// for another process (the reader's named mutex). A population shares the
// record it uses, so a detach meanwhile only drops the table's share and the
// population releases the record when it is done; a population that began
// before a detach stores nothing afterwards (ReaderStateLife).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/winscard_ext.h"
#include "storeprov/card_cert_cache.h"

inline constexpr std::size_t kMaxReaders = 16;

extern SCARD_READERSTATEA ReaderStateTable[kMaxReaders];
extern DWORD ReaderCount;
extern BYTE ReaderChanged[kMaxReaders];

std::mutex& ReaderStateLock();
std::mutex& ReaderExaminationLock(std::size_t reader);

// The cache record of entry i (the table owns it; pvUserData mirrors it).
CCardCertCache* ReaderCache(std::size_t reader);
// A share of that record, which stays valid while it is held.
std::shared_ptr<const CCardCertCache> ShareReaderCache(std::size_t reader);
// The same with ReaderStateLock already held.
std::shared_ptr<const CCardCertCache> ShareReaderCacheLocked(std::size_t reader);
// Which life of the state this is: changes at every first attach and last
// detach. Read with ReaderStateLock held.
std::uint64_t ReaderStateLife();
// Replaces the record of entry i (dropping the table's share of the old
// one) when the state is still in the given life; false, storing nothing,
// when it is not. Call with the entry's examination lock held.
bool SetReaderCache(std::size_t reader, std::shared_ptr<CCardCertCache> cache, std::uint64_t life);

// First process attach: every entry zero, every reader flagged as changed,
// no records. Reader names kept from an earlier life of the state are freed.
void InitializeReaderState();
// Last process detach: drops the records of the readers (a population still
// using one releases it when it is done) and ends the state's life. Takes no
// examination lock, so it never waits for a population. The reader names and
// the rest of the table stay.
void ReleaseReaderCaches();

// Appends the names of a reader multi-string to the table while there is
// room; returns how many were taken.
std::size_t ListReadersIntoTable(const char* readers);
