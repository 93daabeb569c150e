#include "certificate_writer.h"

#include <algorithm>
#include <new>
#include <optional>

#include "card/card_scope_guards.h"
#include "card_session.h"
#include "certificate_format.h"
#include "directory_records.h"
#include "file_management.h"

namespace {

constexpr WORD kIdentifierTaken = 0x6A89;

// The code for a card step that did not succeed.
DWORD StepError(LONG result, WORD sw) {
  if (result != SCARD_S_SUCCESS) return static_cast<DWORD>(result);
  switch (sw) {
    case 0x6982:
      return static_cast<DWORD>(SCARD_W_SECURITY_VIOLATION);
    case 0x6A84:
      return static_cast<DWORD>(SCARD_E_WRITE_TOO_MANY);
    default:
      return NTE_FAIL;
  }
}
DWORD StepError(const CCryptoCard& card) { return StepError(card.LastResult(), card.Sw()); }

// ICC.Crypto lies directly under the MF: the card finds it by name from
// any DF.
bool SelectCertificateDf(CCryptoCard& card) {
  card.SelectByName(kCryptoDfName, CCryptoCard::Fci::NotReturned);
  return card.StepSucceeded();
}

// Whether the selected file has a byte at offset.
bool HasByteAt(CCryptoCard& card, DWORD offset) {
  if (offset >= CCryptoCard::kOffsetLimit) return false;
  BYTE probe = 0;
  card.ReadBinary(static_cast<WORD>(offset), 1, &probe);
  return card.StepSucceeded();
}

// Where the new record goes in the certificate directory, and whether a
// terminating zero byte fits after it.
struct Slot {
  DWORD offset = 0;
  bool roomForTerminator = false;
};

DWORD FindRecordSlot(CCryptoCard& card, std::size_t recordSize, Slot* slot) {
  // The FCI gives the directory's size: where it ends, whether the record
  // and a terminator fit.
  if (SelectDirectoryFile(card, kCertificateDirectory, CCryptoCard::Fci::Returned) !=
      LookupResult::Found) {
    return StepError(card);
  }
  const std::optional<DWORD> size = card.SelectedFileSize();
  DWORD end = 0;
  const WalkEnd walk =
      card.WalkDirectory([](const DirectoryRecord&) { return true; }, ProviderWalk(size), &end);
  if (walk != WalkEnd::EndMarker && walk != WalkEnd::FileEnd) {
    return card.StepSucceeded() ? NTE_FAIL : StepError(card);
  }
  const DWORD recordEnd = end + static_cast<DWORD>(recordSize);
  if (size) {
    if (recordEnd > std::min<DWORD>(*size, CCryptoCard::kOffsetLimit)) {
      return static_cast<DWORD>(SCARD_E_WRITE_TOO_MANY);
    }
    slot->offset = end;
    slot->roomForTerminator = recordEnd < std::min<DWORD>(*size, CCryptoCard::kOffsetLimit);
    return ERROR_SUCCESS;
  }
  // No size in the answer: ask the card whether the bytes are there.
  if (!HasByteAt(card, recordEnd - 1)) {
    return card.LastResult() != SCARD_S_SUCCESS ? static_cast<DWORD>(card.LastResult())
                                                : static_cast<DWORD>(SCARD_E_WRITE_TOO_MANY);
  }
  slot->offset = end;
  slot->roomForTerminator = HasByteAt(card, end + static_cast<DWORD>(recordSize));
  return card.LastResult() == SCARD_S_SUCCESS ? ERROR_SUCCESS
                                              : static_cast<DWORD>(card.LastResult());
}

// Makes a certificate file of size bytes under DF 3F11 with the first free
// identifier; it is then the current file.
DWORD CreateCertificateFile(CCryptoCard& card, WORD size, WORD* fileId) {
  if (!SelectCertificateDf(card)) return StepError(card);
  for (DWORD id = kFirstCertificateFile; id <= kLastCertificateFile; ++id) {
    const CardAnswer answer = CreateTransparentFile(card, static_cast<WORD>(id), size);
    if (answer.Succeeded()) {
      *fileId = static_cast<WORD>(id);
      return ERROR_SUCCESS;
    }
    if (answer.result != SCARD_S_SUCCESS || answer.sw != kIdentifierTaken) {
      return StepError(answer.result, answer.sw);
    }
  }
  return static_cast<DWORD>(SCARD_E_WRITE_TOO_MANY);
}

void RemoveCertificateFile(CCryptoCard& card, WORD fileId) {
  if (SelectCertificateDf(card)) DeleteFileById(card, fileId);
}

// Appends the record so that it becomes visible only when whole: everything
// after its first byte (and a terminating zero when there is room) first,
// then the opening tag over the directory's end marker.
DWORD AppendRecord(CCryptoCard& card, const Slot& slot, const std::vector<BYTE>& record) {
  std::vector<BYTE> tail(record.begin() + 1, record.end());
  if (slot.roomForTerminator) tail.push_back(0x00);
  if (SelectDirectoryFile(card, kCertificateDirectory, CCryptoCard::Fci::NotReturned) !=
      LookupResult::Found) {
    return StepError(card);
  }
  card.UpdateBinary(static_cast<WORD>(slot.offset + 1), static_cast<WORD>(tail.size()),
                    tail.data());
  if (!card.StepSucceeded()) return StepError(card);
  card.UpdateBinary(static_cast<WORD>(slot.offset), 1, record.data());
  if (!card.StepSucceeded()) return StepError(card);
  return ERROR_SUCCESS;
}

DWORD Store(CCryptoCard& card, std::span<const BYTE> identifierElement,
            std::span<const BYTE> certificate) {
  const auto file = BuildCertificateFile(certificate);
  if (!file) return NTE_FAIL;
  if (file->size() >= CCryptoCard::kOffsetLimit) return NTE_BAD_DATA;
  const WORD fileSize = static_cast<WORD>(file->size());
  // The record's size does not depend on the file identifier.
  const std::size_t recordSize =
      BuildCertificateRecord(identifierElement, kFirstCertificateFile, fileSize).size();

  const CCardTransactionGuard transaction(card.CardHandle());
  if (transaction.Result() != SCARD_S_SUCCESS) return static_cast<DWORD>(transaction.Result());

  Slot slot;
  if (DWORD error = FindRecordSlot(card, recordSize, &slot)) return error;

  WORD fileId = 0;
  if (DWORD error = CreateCertificateFile(card, fileSize, &fileId)) return error;
  card.UpdateBinary(0, fileSize, file->data());
  if (!card.StepSucceeded()) {
    const DWORD error = StepError(card);
    DeleteFileById(card, fileId);  // DF 3F11 is still the current DF
    return error;
  }
  const auto record = BuildCertificateRecord(identifierElement, fileId, fileSize);
  if (DWORD error = AppendRecord(card, slot, record)) {
    RemoveCertificateFile(card, fileId);
    return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD StoreCertificate(CCryptoCard& card, std::span<const BYTE> identifierElement,
                       std::span<const BYTE> certificate) {
  if (identifierElement.empty() || certificate.empty()) return static_cast<DWORD>(NTE_BAD_DATA);
  try {
    return Store(card, identifierElement, certificate);
  } catch (const std::bad_alloc&) {
    return NTE_NO_MEMORY;
  }
}
