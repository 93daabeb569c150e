#include "directory_records.h"

#include <algorithm>
#include <array>
#include <new>
#include <span>

#include "card/der_element.h"

namespace {

constexpr BYTE kSequence = 0x30;
constexpr WORD kWrongLength = 0x6C00;     // 6Cxx: fewer bytes remain
constexpr WORD kOffsetOutside = 0x6B00;   // at or past the end of the file

// The selected directory file as far as it has been read: chunks of up to
// 128 bytes from offset 0, each asked for once, until the file ends.
class CDirectoryReader {
 public:
  CDirectoryReader(CCryptoCard& card, std::optional<DWORD> fileSize)
      : m_card(card), m_limit(std::min<DWORD>(fileSize.value_or(CCryptoCard::kOffsetLimit),
                                                CCryptoCard::kOffsetLimit)) {}

  // Reads on until at least size bytes are held or the file ends; false
  // after a card error.
  bool Fill(DWORD size) {
    while (m_bytes.size() < size && !m_ended) {
      const DWORD offset = static_cast<DWORD>(m_bytes.size());
      if (offset >= m_limit) {
        m_ended = true;
        break;
      }
      WORD chunk = static_cast<WORD>(std::min<DWORD>(CCryptoCard::kMaxChunk, m_limit - offset));
      if (!ReadChunk(offset, chunk)) {
        if (m_card.LastResult() != SCARD_S_SUCCESS) return false;
        if (m_card.Sw() == kOffsetOutside) {
          m_ended = true;
          break;
        }
        // The file ends within the chunk: the card names what is left.
        if ((m_card.Sw() & 0xFF00) != kWrongLength || m_card.Sw2() == 0 || m_card.Sw2() >= chunk) {
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
    std::array<BYTE, CCryptoCard::kMaxChunk> data{};
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

}  // namespace

WalkEnd WalkDirectoryRecords(CCryptoCard& card,
                             const std::function<bool(const DirectoryRecord&)>& visit,
                             DWORD* endOffset, std::optional<DWORD> fileSize) {
  try {
    CDirectoryReader reader(card, fileSize);
    DWORD offset = 0;
    for (;;) {
      // The record's first byte, and up to four bytes of its header.
      if (!reader.Fill(offset + 4)) return WalkEnd::Failed;
      const auto bytes = reader.Bytes();
      if (bytes.size() <= offset || bytes[offset] != kSequence) {
        if (endOffset != nullptr) *endOffset = offset;
        return WalkEnd::EndMarker;
      }
      const auto head = bytes.subspan(offset, std::min<std::size_t>(4, bytes.size() - offset));
      DWORD contentOffset = offset;
      const auto length = ParseDerHeader(contentOffset, head);
      if (!length || *length > kMaxDirectoryRecord) return WalkEnd::Failed;
      const DWORD total = contentOffset - offset + *length;
      if (offset + total > CCryptoCard::kOffsetLimit) return WalkEnd::Failed;
      if (!reader.Fill(offset + total) || reader.Bytes().size() < offset + total) {
        return WalkEnd::Failed;
      }
      DirectoryRecord record;
      record.offset = offset;
      const auto whole = reader.Bytes().subspan(offset, total);
      record.bytes.assign(whole.begin(), whole.end());
      if (!visit(record)) return WalkEnd::Stopped;
      offset += total;
    }
  } catch (const std::bad_alloc&) {
    return WalkEnd::Failed;
  }
}

LookupResult SelectDirectoryFile(CCryptoCard& card, std::size_t tableIndex, CCryptoCard::Fci fci) {
  card.SelectByName(kPkcs15ApplicationId.data(), static_cast<BYTE>(kPkcs15ApplicationId.size()),
                    CCryptoCard::Fci::NotReturned);
  if (card.StepSucceeded()) card.SelectFile(card.DirectoryFiles()[tableIndex], fci);
  return card.StepSucceeded() ? LookupResult::Found : LookupResult::CardError;
}

std::optional<KeyRecordInfo> DecodeKeyRecord(const DirectoryRecord& record) {
  const BYTE* const recordEnd = record.bytes.data() + record.bytes.size();
  const auto content = EnterDerElement(record.bytes.data(), recordEnd);
  if (!content) return std::nullopt;

  const BYTE* p = content->content;
  if (p >= content->end || *p != kSequence) return std::nullopt;
  p = SkipDerElement(p, content->end);  // common object attributes
  if (p == nullptr || p >= content->end || *p != kSequence) return std::nullopt;
  const auto keyAttributes = EnterDerElement(p, content->end);
  if (!keyAttributes) return std::nullopt;

  KeyRecordInfo info;
  p = keyAttributes->content;
  const BYTE* const limit = keyAttributes->end;
  if (p >= limit || *p != 0x04) return std::nullopt;
  const BYTE* after = SkipDerElement(p, limit);
  if (after == nullptr) return std::nullopt;
  info.identifierElement.assign(p, after);
  p = after;

  // Usage (a bit string: unused-bits count, then the bytes), native and
  // access flags, each passed over when absent.
  if (p < limit && *p == 0x03) {
    const auto usage = EnterDerElement(p, limit);
    if (!usage) return std::nullopt;
    const std::size_t size = static_cast<std::size_t>(usage->end - usage->content);
    const BYTE high = size > 1 ? usage->content[1] : 0;
    const BYTE low = size > 2 ? usage->content[2] : 0;
    info.usage = static_cast<WORD>(high << 8 | low);
    p = usage->end;
  }
  for (BYTE optional : {BYTE{0x01}, BYTE{0x03}}) {
    if (p < limit && *p == optional) p = SkipDerElement(p, limit);
    if (p == nullptr) return std::nullopt;
  }
  if (p >= limit || *p != 0x02) return std::nullopt;
  const auto reference = EnterDerElement(p, limit);
  if (!reference || reference->content >= reference->end) return std::nullopt;
  info.keyReference = *reference->content;
  return info;
}

LookupResult FindKeyRecord(CCryptoCard& card, std::size_t tableIndex, BYTE keyReference,
                           KeyRecordInfo* info) {
  if (SelectDirectoryFile(card, tableIndex, CCryptoCard::Fci::NotReturned) != LookupResult::Found) {
    return LookupResult::CardError;
  }
  bool found = false;
  const WalkEnd end = WalkDirectoryRecords(card, [&](const DirectoryRecord& record) {
    const auto decoded = DecodeKeyRecord(record);
    if (!decoded || decoded->keyReference != keyReference) return true;
    if (info != nullptr) *info = *decoded;
    found = true;
    return false;
  });
  if (found) return LookupResult::Found;
  return end == WalkEnd::EndMarker ? LookupResult::NotFound : LookupResult::CardError;
}
