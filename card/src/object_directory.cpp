// The PKCS#15 application: its object directory file, and walking the
// records of its directory files.
#include <algorithm>
#include <new>

#include "card/crypto_card.h"
#include "card/der_element.h"

namespace {

// Only the beginning of the object directory file is looked at.
constexpr WORD kObjectDirectoryBytes = 40;

}  // namespace

// The selected file as far as a walk has read it: chunks of up to 128 bytes
// from offset 0, each asked for once, until the file ends.
class CCryptoCard::FileReadAhead {
 public:
  FileReadAhead(CCryptoCard& card, std::optional<DWORD> fileSize)
      : m_card(card), m_limit(std::min(fileSize.value_or(kOffsetLimit), kOffsetLimit)) {}

  // Reads on until at least size bytes are held or the file ends; false
  // after a card error.
  bool Fill(DWORD size) {
    while (m_bytes.size() < size && !m_ended) {
      const auto offset = static_cast<DWORD>(m_bytes.size());
      if (offset >= m_limit) {
        m_ended = true;
        break;
      }
      auto chunk = static_cast<WORD>(std::min<DWORD>(kMaxChunk, m_limit - offset));
      if (!ReadChunk(offset, chunk)) {
        if (m_card.LastResult() != SCARD_S_SUCCESS) return false;
        if (m_card.Sw() == kSwWrongP1P2) {
          m_ended = true;
          break;
        }
        // The file ends within the chunk: the card names what is left.
        if (m_card.Sw1() != kSw1WrongLength || m_card.Sw2() == 0 || m_card.Sw2() >= chunk) {
          return false;
        }
        chunk = m_card.Sw2();
        if (!ReadChunk(offset, chunk)) return false;
        m_ended = true;
      }
    }
    return true;
  }
  std::span<const BYTE> Bytes() const { return m_bytes; }

 private:
  bool ReadChunk(DWORD offset, WORD chunk) {
    std::array<BYTE, kMaxChunk> data{};
    WORD got = 0;
    m_card.ReadBinary(static_cast<WORD>(offset), chunk, data.data(), &got);
    if (!m_card.StepSucceeded()) return false;
    // An answer without (all of) the data asked for: the file ends there.
    if (got < chunk) m_ended = true;
    m_bytes.insert(m_bytes.end(), data.begin(), data.begin() + got);
    return true;
  }

  CCryptoCard& m_card;
  DWORD m_limit;
  std::vector<BYTE> m_bytes;
  bool m_ended = false;
};

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

std::optional<CCryptoCard::FileElement> CCryptoCard::ReadElement(DWORD offset,
                                                                 std::optional<BYTE> tag,
                                                                 DWORD limit) {
  FileElement element;
  if (offset >= limit || !ReadElementHead(offset, element.head) || element.head.fetched == 0 ||
      (tag && element.Tag() != *tag)) {
    return std::nullopt;
  }
  element.content = offset;
  const auto length = ParseDerHeader(element.content, element.head.Fetched());
  if (!length || element.content > limit || *length > limit - element.content) return std::nullopt;
  element.length = *length;
  return element;
}

WalkEnd CCryptoCard::WalkDirectory(const RecordVisitor& visit, const WalkOptions& options,
                                   DWORD* endOffset) {
  try {
    std::optional<FileReadAhead> ahead;
    if (options.readAhead) ahead.emplace(*this, options.fileSize);
    DWORD offset = 0;
    for (;;) {
      if (options.beforeRecord && !options.beforeRecord()) return WalkEnd::Failed;
      // The record's first byte, and up to four bytes of its header.
      ElementHead fetched;
      std::span<const BYTE> head;
      if (ahead) {
        if (!ahead->Fill(offset + 4)) return WalkEnd::Failed;
        const auto bytes = ahead->Bytes();
        if (bytes.size() > offset) {
          head = bytes.subspan(offset, std::min<std::size_t>(4, bytes.size() - offset));
        } else {
          if (endOffset != nullptr) *endOffset = offset;
          return WalkEnd::FileEnd;
        }
      } else if (ReadElementHead(offset, fetched)) {
        head = fetched.Fetched();
      } else {
        // Refused as a read past the end: the file is full to its last byte.
        if (!RefusedAsPastEnd()) return WalkEnd::Failed;
        if (endOffset != nullptr) *endOffset = offset;
        return WalkEnd::FileEnd;
      }
      if (head.empty() || head[0] != 0x30) {
        if (endOffset != nullptr) *endOffset = offset;
        return WalkEnd::EndMarker;
      }
      DirectoryRecord record;
      record.offset = offset;
      record.contentOffset = offset;
      const auto length = ParseDerHeader(record.contentOffset, head);
      // A header that cannot be followed, or a record past what the file
      // commands can address, ends the walk: the next record cannot be found.
      if (!length || *length > std::min(options.maxRecordLength, kOffsetLimit)) {
        return WalkEnd::Failed;
      }
      record.contentLength = *length;
      if (record.End() > kOffsetLimit) return WalkEnd::Failed;
      if (ahead) {
        if (!ahead->Fill(record.End()) || ahead->Bytes().size() < record.End()) {
          return WalkEnd::Failed;
        }
        record.bytes = ahead->Bytes().subspan(offset, record.End() - offset);
      }
      if (!visit(record)) return WalkEnd::Stopped;
      // A record that ends with the file may have had an element head read
      // past the end; the next read tells whether the file ends there.
      if (!ahead && !options.beforeRecord && !StepSucceeded() && !RefusedAsPastEnd()) {
        return WalkEnd::Failed;
      }
      offset = record.End();
    }
  } catch (const std::bad_alloc&) {
    return WalkEnd::Failed;
  }
}
