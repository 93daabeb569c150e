// The card's PKCS#15 directory files as the provider uses them: selecting
// one, and the key records of one key reference (the walk and the record
// view are the card library's).
#pragma once

#include <optional>
#include <vector>

#include "card/crypto_card.h"

// Records are small; a longer one is taken for damage.
inline constexpr DWORD kMaxDirectoryRecord = 1024;

// How the provider's walks read a directory file: read ahead once, in
// chunks of up to 128 bytes (fileSize, when known from the file control
// information, spares the read that finds the end).
WalkOptions ProviderWalk(std::optional<DWORD> fileSize = std::nullopt);

// What a key record tells about its key.
struct KeyRecordInfo {
  std::vector<BYTE> identifierElement;  // tag, length and bytes, as stored
  WORD usage = 0;                       // the two usage bytes, high byte first
  BYTE keyReference = 0;
};

enum class LookupResult { Found, NotFound, CardError };

// Selects the directory file at tableIndex of the card's directory file
// table: the PKCS#15 application by name (without FCI), then the file, its
// FCI as fci says. Found when both were selected.
LookupResult SelectDirectoryFile(CCryptoCard& card, std::size_t tableIndex, CCryptoCard::Fci fci);

// The first record with that key reference and an identifier in the
// directory file of the application at tableIndex of the card's directory
// file table.
LookupResult FindKeyRecord(CCryptoCard& card, std::size_t tableIndex, BYTE keyReference,
                           KeyRecordInfo* info);
