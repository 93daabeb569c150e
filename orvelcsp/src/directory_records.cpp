#include "directory_records.h"

#include "card/key_record_view.h"

WalkOptions ProviderWalk(std::optional<DWORD> fileSize) {
  WalkOptions options;
  options.readAhead = true;
  options.fileSize = fileSize;
  options.maxRecordLength = kMaxDirectoryRecord;
  return options;
}

LookupResult SelectDirectoryFile(CCryptoCard& card, std::size_t tableIndex, CCryptoCard::Fci fci) {
  card.SelectByName(kPkcs15ApplicationId.data(), static_cast<BYTE>(kPkcs15ApplicationId.size()),
                    CCryptoCard::Fci::NotReturned);
  if (card.StepSucceeded()) card.SelectFile(card.DirectoryFiles()[tableIndex], fci);
  return card.StepSucceeded() ? LookupResult::Found : LookupResult::CardError;
}

LookupResult FindKeyRecord(CCryptoCard& card, std::size_t tableIndex, BYTE keyReference,
                           KeyRecordInfo* info) {
  if (SelectDirectoryFile(card, tableIndex, CCryptoCard::Fci::NotReturned) != LookupResult::Found) {
    return LookupResult::CardError;
  }
  bool found = false;
  const WalkEnd end = card.WalkDirectory(
      [&](const DirectoryRecord& record) {
        const auto key = ParseKeyRecord(record.Content());
        if (!key || key->identifier.empty() || key->keyReference != keyReference) return true;
        if (info != nullptr) {
          info->identifierElement.assign(key->identifier.begin(), key->identifier.end());
          info->usage = key->UsageWord();
          info->keyReference = key->keyReference;
        }
        found = true;
        return false;
      },
      ProviderWalk());
  if (found) return LookupResult::Found;
  return end == WalkEnd::EndMarker || end == WalkEnd::FileEnd ? LookupResult::NotFound
                                                              : LookupResult::CardError;
}
