// Reading the records of the card's PKCS#15 directory files through the card
// object: the walk from record to record, the key records of one key
// reference, and where the next record goes.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "card/crypto_card.h"

// One record of a directory file, read whole (header and content).
struct DirectoryRecord {
  DWORD offset = 0;
  std::vector<BYTE> bytes;
};

enum class WalkEnd {
  EndMarker,  // a first byte other than 30, or the end of the file
  Stopped,    // the visitor asked to stop
  Failed,     // a card error, or a record that cannot be followed
};

// Records are small; a longer one is taken for damage.
inline constexpr DWORD kMaxDirectoryRecord = 1024;

// Walks the records of the directory file selected on the card, from offset
// 0, reading the file once in chunks of up to 128 bytes as far as the walk
// goes (fileSize, when known from the file control information, spares the
// read that finds the end). visit returns false to stop. *endOffset (when
// given) receives the offset after the last record when the walk reaches
// the end.
WalkEnd WalkDirectoryRecords(CCryptoCard& card,
                             const std::function<bool(const DirectoryRecord&)>& visit,
                             DWORD* endOffset = nullptr,
                             std::optional<DWORD> fileSize = std::nullopt);

// What a key record tells about its key.
struct KeyRecordInfo {
  std::vector<BYTE> identifierElement;  // tag, length and bytes, as stored
  WORD usage = 0;                       // the two usage bytes, high byte first
  BYTE keyReference = 0;
};

// The fields of a key record shaped as this card's key records are: common
// object attributes, then common key attributes holding the identifier, the
// usage, native and access flags (each optional) and the key reference.
std::optional<KeyRecordInfo> DecodeKeyRecord(const DirectoryRecord& record);

enum class LookupResult { Found, NotFound, CardError };

// Selects the directory file at tableIndex of the card's directory file
// table: the PKCS#15 application by name (without FCI), then the file, its
// FCI as fci says. Found when both were selected.
LookupResult SelectDirectoryFile(CCryptoCard& card, std::size_t tableIndex, CCryptoCard::Fci fci);

// The first record with that key reference in the directory file of the
// application at tableIndex of the card's directory file table.
LookupResult FindKeyRecord(CCryptoCard& card, std::size_t tableIndex, BYTE keyReference,
                           KeyRecordInfo* info);
