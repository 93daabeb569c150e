#include "der.h"

namespace orvelcard {

std::optional<Tlv> ReadTlv(ByteView data, std::size_t offset) {
  if (offset >= data.size() || data.size() - offset < 2) return std::nullopt;
  Tlv tlv;
  tlv.tag = data[offset];
  tlv.offset = offset;
  std::size_t length = data[offset + 1];
  std::size_t header = 2;
  if (length & 0x80) {
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || data.size() - offset - 2 < count) return std::nullopt;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = length << 8 | data[offset + 2 + i];
    header += count;
  }
  if (data.size() - offset - header < length) return std::nullopt;
  tlv.headerSize = header;
  tlv.content = data.subspan(offset + header, length);
  return tlv;
}

std::vector<Tlv> ReadChildren(ByteView content, bool* complete) {
  std::vector<Tlv> children;
  std::size_t offset = 0;
  while (offset < content.size()) {
    const std::optional<Tlv> child = ReadTlv(content, offset);
    if (!child) break;
    children.push_back(*child);
    offset += child->Size();
  }
  if (complete) *complete = offset == content.size();
  return children;
}

}  // namespace orvelcard
