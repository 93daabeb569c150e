#include "card/der_element.h"

std::optional<DWORD> ParseDerHeader(DWORD& offset, std::span<const BYTE> head) {
  if (head.size() < 2) return std::nullopt;
  const BYTE first = head[1];
  if ((first & 0x80) == 0) {
    offset += 2;
    return first;
  }
  const std::size_t count = first & 0x7F;
  if (count == 0 || count > 4 || head.size() < 2 + count) return std::nullopt;
  DWORD length = 0;
  for (std::size_t i = 0; i < count; ++i) length = (length << 8) | head[2 + i];
  offset += static_cast<DWORD>(2 + count);
  return length;
}

const BYTE* SkipDerElement(const BYTE* element, const BYTE* end) {
  if (element == nullptr || end == nullptr || element >= end) return nullptr;
  const auto available = static_cast<std::size_t>(end - element);
  DWORD header = 0;
  const auto length = ParseDerHeader(header, {element, available});
  if (!length || *length > available - header) return nullptr;
  return element + header + *length;
}

std::optional<DerContent> EnterDerElement(const BYTE* element, const BYTE* end) {
  if (element == nullptr || end == nullptr || element >= end) return std::nullopt;
  const auto available = static_cast<std::size_t>(end - element);
  DWORD header = 0;
  const auto length = ParseDerHeader(header, {element, available});
  if (!length || *length > available - header) return std::nullopt;
  return DerContent{element + header, element + header + *length};
}

std::optional<DerContent> ExpectDerElement(const BYTE* element, const BYTE* end, BYTE tag) {
  if (element == nullptr || element >= end || *element != tag) return std::nullopt;
  return EnterDerElement(element, end);
}
