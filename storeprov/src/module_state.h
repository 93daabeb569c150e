// The process-wide state of the module, held by one owner: the reader
// records and their locks, the registered change events and the watcher
// thread. Members go in the reverse order of their declaration, so the
// watcher, declared last, is stopped and joined before anything it uses
// goes; a process that ends without the last detach ends at once.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "change_events.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "storeprov/card_cert_cache.h"

struct ReaderRecords {
  // Covers the table entries, ReaderCount, ReaderChanged, the records and
  // the life; held only for short updates, never while waiting.
  std::mutex stateLock;
  // One per reader, held by a population for its examination of the reader.
  std::array<std::mutex, kMaxReaders> examinationLocks;
  // Held while the readers are listed.
  std::mutex listing;
  // The records of the table entries; pvUserData points at the same objects.
  // A population shares the record it uses, so that a detach meanwhile only
  // drops the table's share.
  std::array<std::shared_ptr<CCardCertCache>, kMaxReaders> caches;
  // The heap copies of the reader names that szReader points at.
  std::array<std::unique_ptr<char[]>, kMaxReaders> names;
  // Counts the first attaches and last detaches: a population that began in
  // an earlier life stores nothing into this one.
  std::uint64_t life = 0;
};

struct ModuleState {
  ReaderRecords readers;
  ChangeEventList changeEvents;
  ReaderWatcher watcher;  // last: goes first
};

ModuleState& TheModuleState();
