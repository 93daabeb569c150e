// The PKCS#15 application: its object directory file, and walking the
// records of its directory files.
#include "card/crypto_card.h"
#include "card/der_element.h"

namespace {

// Only the beginning of the object directory file is looked at.
constexpr WORD kObjectDirectoryBytes = 40;

}  // namespace

LONG CCryptoCard::SelectApplication(WORD fileId, Fci fci) {
  SelectByName(kMasterFileName, fci);
  if (StepSucceeded()) {
    SelectByName(kPkcs15ApplicationId.data(), static_cast<BYTE>(kPkcs15ApplicationId.size()), fci);
  }
  if (StepSucceeded()) SelectFile(fileId, fci);
  return m_lastResult;
}

void CCryptoCard::ReadObjectDirectory(Fci selection) {
  m_directoryFiles = kDefaultDirectoryFiles;
  SelectApplication(kObjectDirectoryFile, selection);
  if (!StepSucceeded()) return;
  std::array<BYTE, kObjectDirectoryBytes> odf{};
  WORD got = 0;
  ReadBinary(0, kObjectDirectoryBytes, odf.data(), &got);
  if (!StepSucceeded()) return;

  // Entries: tag, length of the rest, then the path 30 len 04 02 hi lo.
  std::size_t pos = 0;
  while (pos < got && odf[pos] != 0xFF) {
    if (pos + 1 >= got) break;
    const BYTE tag = odf[pos];
    const BYTE length = odf[pos + 1];
    const std::size_t index = tag & 0x0F;
    // The identifier is taken only when the entry holds it and it was read.
    if ((tag & 0xA0) == 0xA0 && index < kDirectoryFileCount && length >= 6 && pos + 8 <= got) {
      m_directoryFiles[index] = static_cast<WORD>(odf[pos + 6] << 8 | odf[pos + 7]);
    }
    pos += static_cast<std::size_t>(length) + 2;
  }
}

bool CCryptoCard::ReadElementHead(DWORD offset, ElementHead& head) {
  head = ElementHead{};
  head.offset = offset;
  if (offset + head.bytes.size() > kOffsetLimit) {
    Refuse(SCARD_E_INVALID_PARAMETER);
    return false;
  }
  ReadBinary(static_cast<WORD>(offset), static_cast<WORD>(head.bytes.size()), head.bytes.data(),
             &head.fetched);
  return StepSucceeded();
}

bool CCryptoCard::RefusedAsPastEnd() const {
  return m_lastResult == SCARD_S_SUCCESS &&
         (m_sw == kSwWrongP1P2 || (m_sw1 == kSw1WrongLength && m_sw2 < 4));
}

CCryptoCard::WalkEnd CCryptoCard::WalkDirectory(const RecordVisitor& visit,
                                                const std::function<bool()>& beforeRecord,
                                                DWORD* endOffset) {
  DWORD offset = 0;
  for (;;) {
    if (beforeRecord && !beforeRecord()) return WalkEnd::Failed;
    ElementHead head;
    if (!ReadElementHead(offset, head)) {
      // Refused as a read past the end: the file is full to its last byte.
      if (!RefusedAsPastEnd()) return WalkEnd::Failed;
      if (endOffset != nullptr) *endOffset = offset;
      return WalkEnd::FileEnd;
    }
    if (head.fetched == 0 || head.Tag() != 0x30) {
      if (endOffset != nullptr) *endOffset = offset;
      return WalkEnd::EndMarker;
    }
    DirectoryRecord record;
    record.offset = offset;
    record.contentOffset = offset;
    const auto length = ParseDerHeader(record.contentOffset, head.Fetched());
    // A header that cannot be followed, or a record past what the file
    // commands can address, ends the walk: the next record cannot be found.
    if (!length || *length > kOffsetLimit) return WalkEnd::Failed;
    record.contentLength = *length;
    if (record.End() > kOffsetLimit) return WalkEnd::Failed;
    if (!visit(record)) return WalkEnd::Stopped;
    // A record that ends with the file may have had an element head read
    // past the end; the next read tells whether the file ends there.
    if (!beforeRecord && !StepSucceeded() && !RefusedAsPastEnd()) return WalkEnd::Failed;
    offset = record.End();
  }
}
