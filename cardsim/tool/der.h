// Reading DER elements (tag, length, content) from bytes that came off a
// card image, never past the end of what is there; the headers are read as
// the card library reads them (card/der_element.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvelcard {

using ByteView = std::span<const std::uint8_t>;

struct Tlv {
  std::uint8_t tag = 0;
  std::size_t offset = 0;      // of the tag byte, within the bytes read from
  std::size_t headerSize = 0;  // tag and length bytes
  ByteView content;
  std::size_t Size() const { return headerSize + content.size(); }
};

// The element whose tag is at `offset`, when its header and its whole
// content lie within `data`. Single-byte tags; definite lengths of up to
// four length bytes.
std::optional<Tlv> ReadTlv(ByteView data, std::size_t offset);

// The elements of `content`, one after another. `complete` (when given)
// tells whether they filled it exactly, without a broken element at the end.
std::vector<Tlv> ReadChildren(ByteView content, bool* complete = nullptr);

}  // namespace orvelcard
