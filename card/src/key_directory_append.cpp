// Registering a newly written key: its records are appended to the
// private-key and the public-key directory.
#include "card/card_scope_guards.h"
#include "card/crypto_card.h"
#include "key_directory_records.h"

std::optional<DWORD> CCryptoCard::FindDirectoryEnd() {
  DWORD end = 0;
  const WalkEnd walk = WalkDirectory([](const DirectoryRecord&) { return true; }, {}, &end);
  if (walk == WalkEnd::EndMarker) return end;
  // A file full to its end has no room for a record (the refusal stays).
  if (walk == WalkEnd::FileEnd) return std::nullopt;
  // A walk that stopped on a record it could not follow may leave 9000
  // behind; the caller must not take that for success.
  if (StepSucceeded()) Refuse(SCARD_E_INVALID_PARAMETER);
  return std::nullopt;
}

std::optional<DWORD> CCryptoCard::WriteRecordAt(DWORD offset, std::span<const BYTE> record) {
  if (offset + record.size() > kOffsetLimit) {
    Refuse(SCARD_E_INVALID_PARAMETER);
    return std::nullopt;
  }
  // No room left in the file: the card refuses the write and nothing of the
  // record lands (the record fits one UPDATE BINARY).
  UpdateBinary(static_cast<WORD>(offset), static_cast<WORD>(record.size()), record.data());
  if (!StepSucceeded()) return std::nullopt;
  return offset;
}

std::optional<DWORD> CCryptoCard::AppendRecord(std::span<const BYTE> record) {
  const auto end = FindDirectoryEnd();
  if (!end) return std::nullopt;
  return WriteRecordAt(*end, record);
}

bool CCryptoCard::AddKeyDirectoryEntries(BYTE keyReference,
                                         std::span<const BYTE, kKeyIdentifierBytes> identifier,
                                         WORD roleWord) {
  static_assert(kKeyRecordBytes <= kMaxChunk, "a key record goes out in one command");
  const KeyRecord privateRecord = MakePrivateKeyRecord(keyReference, identifier);
  const KeyRecord publicRecord = MakePublicKeyRecord(keyReference, identifier, roleWord);

  // No other program appends to the directories between the moment their
  // ends are found and the writes there.
  const CCardTransactionGuard transaction(m_card);
  if (transaction.Result() != SCARD_S_SUCCESS) {
    Refuse(transaction.Result());
    return false;
  }

  // Both ends are found before anything is written. The public-key record
  // then goes first and the private-key record last: a key is found only
  // through its private-key record (a certificate's identifier is looked up
  // there, and so is a key container), so a card pulled out or reset between
  // the two writes leaves no private-key record that a later certificate
  // with the same identifier would be matched to, while the public-key
  // record alone keeps the reference taken.
  SelectApplication(m_directoryFiles[kPrivateKeyDirectory]);
  if (!StepSucceeded()) return false;
  const auto privateAt = FindDirectoryEnd();
  if (!privateAt) return false;

  // The application is still the current DF.
  SelectFile(m_directoryFiles[kPublicKeyDirectory]);
  if (!StepSucceeded()) return false;
  const auto publicAt = AppendRecord(publicRecord);
  if (!publicAt) return false;

  SelectFile(m_directoryFiles[kPrivateKeyDirectory]);
  if (StepSucceeded() && WriteRecordAt(*privateAt, privateRecord)) return true;

  // Take the public-key record back: left alone it would keep the reference
  // taken for a key that is erased. Zeros end the directory there again.
  // The failure stays what the caller sees.
  const LONG failedResult = m_lastResult;
  const BYTE failedSw1 = m_sw1;
  const BYTE failedSw2 = m_sw2;
  SelectApplication(m_directoryFiles[kPublicKeyDirectory]);
  if (StepSucceeded()) {
    const KeyRecord zeros{};
    UpdateBinary(static_cast<WORD>(*publicAt), static_cast<WORD>(zeros.size()), zeros.data());
  }
  m_lastResult = failedResult;
  m_sw1 = failedSw1;
  m_sw2 = failedSw2;
  m_sw = static_cast<WORD>(m_sw1 << 8 | m_sw2);
  return false;
}

void CCryptoCard::TakeBackKeyRecords(BYTE keyReference) {
  for (const std::size_t directory : {kPublicKeyDirectory, kPrivateKeyDirectory}) {
    SelectApplication(m_directoryFiles[directory]);
    if (!StepSucceeded()) continue;
    std::optional<DirectoryRecord> last;
    const WalkEnd walk = WalkDirectory([&](const DirectoryRecord& record) {
      last = record;
      return true;
    });
    if ((walk != WalkEnd::EndMarker && walk != WalkEnd::FileEnd) || !last) continue;
    KeyReferenceMap map{};
    ScanKeyRecord(*last, KeyRefPrivate, map);
    if (map[keyReference] == 0 || last->End() - last->offset > kKeyRecordBytes) continue;
    const KeyRecord zeros{};
    UpdateBinary(static_cast<WORD>(last->offset), static_cast<WORD>(last->End() - last->offset),
                 zeros.data());
  }
}
