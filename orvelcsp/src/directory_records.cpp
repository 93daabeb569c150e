#include "directory_records.h"

#include <array>
#include <new>

#include "card/der_element.h"

namespace {

constexpr BYTE kSequence = 0x30;
constexpr WORD kWrongLength = 0x6C00;     // 6Cxx: fewer bytes remain
constexpr WORD kOffsetOutside = 0x6B00;   // at or past the end of the file

// The first byte of the element at offset, with up to four bytes of it in
// head: nullopt at the end of the file; ok is false after a card error.
std::optional<BYTE> FirstByteAt(CCryptoCard& card, DWORD offset, std::array<BYTE, 4>& head,
                                WORD& fetched, bool& ok) {
  ok = true;
  fetched = 0;
  if (offset + head.size() > CCryptoCard::kOffsetLimit) {
    // Nothing can follow where the file commands cannot reach.
    return std::nullopt;
  }
  card.ReadBinary(static_cast<WORD>(offset), static_cast<WORD>(head.size()), head.data(), &fetched);
  if (card.StepSucceeded()) return fetched > 0 ? std::optional<BYTE>(head[0]) : std::nullopt;
  if (card.LastResult() != SCARD_S_SUCCESS) {
    ok = false;
    return std::nullopt;
  }
  if (card.Sw() == kOffsetOutside) return std::nullopt;
  if ((card.Sw() & 0xFF00) == kWrongLength && card.Sw2() > 0 && card.Sw2() < head.size()) {
    // The file ends within four bytes: read what is left.
    card.ReadBinary(static_cast<WORD>(offset), card.Sw2(), head.data(), &fetched);
    if (card.StepSucceeded() && fetched > 0) return head[0];
  }
  ok = false;
  return std::nullopt;
}

}  // namespace

WalkEnd WalkDirectoryRecords(CCryptoCard& card,
                             const std::function<bool(const DirectoryRecord&)>& visit,
                             DWORD* endOffset) {
  DWORD offset = 0;
  for (;;) {
    std::array<BYTE, 4> head{};
    WORD fetched = 0;
    bool ok = true;
    const auto first = FirstByteAt(card, offset, head, fetched, ok);
    if (!ok) return WalkEnd::Failed;
    if (!first || *first != kSequence) {
      if (endOffset != nullptr) *endOffset = offset;
      return WalkEnd::EndMarker;
    }
    DWORD contentOffset = offset;
    const auto length = ParseDerHeader(contentOffset, {head.data(), fetched});
    if (!length || *length > kMaxDirectoryRecord) return WalkEnd::Failed;
    const DWORD total = contentOffset - offset + *length;
    if (offset + total > CCryptoCard::kOffsetLimit) return WalkEnd::Failed;

    DirectoryRecord record;
    record.offset = offset;
    try {
      record.bytes.resize(total);
    } catch (const std::bad_alloc&) {
      return WalkEnd::Failed;
    }
    WORD got = 0;
    card.ReadBinary(static_cast<WORD>(offset), static_cast<WORD>(total), record.bytes.data(), &got);
    if (!card.StepSucceeded() || got != total) return WalkEnd::Failed;
    if (!visit(record)) return WalkEnd::Stopped;
    offset += total;
  }
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
  card.SelectApplication(card.DirectoryFiles()[tableIndex]);
  if (!card.StepSucceeded()) return LookupResult::CardError;
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
