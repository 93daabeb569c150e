// The records of a PKCS#15 directory file, as CCryptoCard::WalkDirectory
// hands them to a visitor, and how a walk ends.
#pragma once

#include <functional>
#include <optional>
#include <span>

#include "platform/win32.h"

// A record of a directory file: its header at offset, its content at
// contentOffset.
struct DirectoryRecord {
  DWORD offset = 0;
  DWORD contentOffset = 0;
  DWORD contentLength = 0;
  // The whole record, header and content, when the walk read the file ahead;
  // empty otherwise (the visitor reads what it needs of the record). Valid
  // during the visit only.
  std::span<const BYTE> bytes;
  DWORD End() const { return contentOffset + contentLength; }
  // The record's content from bytes; empty when the walk did not read it.
  std::span<const BYTE> Content() const {
    return bytes.empty() ? bytes : bytes.subspan(contentOffset - offset);
  }
};

enum class WalkEnd {
  EndMarker,  // a first byte other than 30: after the last record
  FileEnd,    // the file ends after the last record: the read there was
              // refused as past its end (6B00, or 6Cxx with fewer than four
              // bytes left), or the file read ahead ends there
  Stopped,    // the visitor asked to stop
  Failed,     // a card error or refusal, or a header that cannot be followed
};

// Called for each record; returns false to stop the walk.
using RecordVisitor = std::function<bool(const DirectoryRecord&)>;

// How a walk reads the file.
struct WalkOptions {
  // Runs before each record is read and ends the walk when it returns false;
  // it is then the walk's check of the card, and the status a visit leaves
  // (having used other files) is not looked at.
  std::function<bool()> beforeRecord;
  // Read the file ahead in chunks of up to 128 bytes, each part once, and
  // hand every record whole (DirectoryRecord::bytes); otherwise each record
  // head is fetched with one 4-byte READ BINARY.
  bool readAhead = false;
  // With readAhead: the file's size from its control information, which
  // spares the read that finds the end.
  std::optional<DWORD> fileSize;
  // A record with a longer content is taken for damage and fails the walk.
  DWORD maxRecordLength = 0x8000;
};
