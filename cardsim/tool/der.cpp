#include "der.h"

#include "card/der_element.h"

namespace orvelcard {

std::optional<Tlv> ReadTlv(ByteView data, std::size_t offset) {
  if (offset >= data.size()) return std::nullopt;
  const ByteView rest = data.subspan(offset);
  DWORD header = 0;
  const auto length = ParseDerHeader(header, rest);
  if (!length || rest.size() - header < *length) return std::nullopt;
  Tlv tlv;
  tlv.tag = rest[0];
  tlv.offset = offset;
  tlv.headerSize = header;
  tlv.content = rest.subspan(header, *length);
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
