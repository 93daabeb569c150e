// Headers of DER elements (tag, length) as the card's directory records use
// them: one tag byte, then a short-form length byte or 0x80 | n followed by
// n big-endian length bytes.
#pragma once

#include <optional>
#include <span>

#include "platform/win32.h"

// Parses the header at the start of head (the bytes fetched of an element,
// the tag first). Returns the content length and advances offset past the
// tag and length bytes; nullopt, offset untouched, when head is too short
// for the header, the length uses more than four bytes, or the indefinite
// form (0x80) is used.
std::optional<DWORD> ParseDerHeader(DWORD& offset, std::span<const BYTE> head);

// The end of the element starting at element, or nullptr when its header or
// content would run past end.
const BYTE* SkipDerElement(const BYTE* element, const BYTE* end);

// The content of the element starting at element, and the end of the
// element; nullopt when its header or content would run past end.
struct DerContent {
  const BYTE* content = nullptr;
  const BYTE* end = nullptr;
  std::size_t Size() const { return static_cast<std::size_t>(end - content); }
};
std::optional<DerContent> EnterDerElement(const BYTE* element, const BYTE* end);
// The same for an element that must have that tag; nullopt for another tag
// and when element is null or at end.
std::optional<DerContent> ExpectDerElement(const BYTE* element, const BYTE* end, BYTE tag);
