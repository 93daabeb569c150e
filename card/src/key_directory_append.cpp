// Registering a newly written key: its records are appended to the
// private-key and the public-key directory.
#include "card/crypto_card.h"
#include "key_directory_records.h"

std::optional<DWORD> CCryptoCard::FindDirectoryEnd() {
  DWORD end = 0;
  const WalkEnd walk = WalkDirectory([](const DirectoryRecord&) { return true; }, {}, &end);
  if (walk == WalkEnd::EndMarker) return end;
  // A walk that stopped on a record it could not follow may leave 9000
  // behind; the caller must not take that for success.
  if (StepSucceeded()) Refuse(SCARD_E_INVALID_PARAMETER);
  return std::nullopt;
}

std::optional<DWORD> CCryptoCard::AppendRecord(std::span<const BYTE> record) {
  const auto end = FindDirectoryEnd();
  if (!end) return std::nullopt;
  if (*end + record.size() > kOffsetLimit) {
    Refuse(SCARD_E_INVALID_PARAMETER);
    return std::nullopt;
  }
  // No room left in the file: the card refuses the write and nothing of the
  // record lands (the record fits one UPDATE BINARY).
  UpdateBinary(static_cast<WORD>(*end), static_cast<WORD>(record.size()), record.data());
  if (!StepSucceeded()) return std::nullopt;
  return end;
}

bool CCryptoCard::AddKeyDirectoryEntries(BYTE keyReference,
                                         std::span<const BYTE, kKeyIdentifierBytes> identifier,
                                         WORD roleWord) {
  static_assert(kKeyRecordBytes <= kMaxChunk, "a key record goes out in one command");
  const KeyRecord privateRecord = MakePrivateKeyRecord(keyReference, identifier);
  const KeyRecord publicRecord = MakePublicKeyRecord(keyReference, identifier, roleWord);

  SelectApplication(m_directoryFiles[kPrivateKeyDirectory]);
  if (!StepSucceeded()) return false;
  const auto privateAt = AppendRecord(privateRecord);
  if (!privateAt) return false;

  // The application is still the current DF.
  SelectFile(m_directoryFiles[kPublicKeyDirectory]);
  if (StepSucceeded() && AppendRecord(publicRecord)) return true;

  // Take the private-key record back: left alone it would keep the reference
  // taken for a key that is erased, and a later certificate with the same
  // identifier would be matched to it. Zeros end the directory there again.
  // The failure stays what the caller sees.
  const LONG failedResult = m_lastResult;
  const BYTE failedSw1 = m_sw1;
  const BYTE failedSw2 = m_sw2;
  SelectApplication(m_directoryFiles[kPrivateKeyDirectory]);
  if (StepSucceeded()) {
    const KeyRecord zeros{};
    UpdateBinary(static_cast<WORD>(*privateAt), static_cast<WORD>(zeros.size()), zeros.data());
  }
  m_lastResult = failedResult;
  m_sw1 = failedSw1;
  m_sw2 = failedSw2;
  m_sw = static_cast<WORD>(m_sw1 << 8 | m_sw2);
  return false;
}
