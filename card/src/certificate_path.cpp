#include "card/certificate_path.h"

#include <algorithm>
#include <charconv>

#include "card/der_element.h"

namespace {

constexpr std::size_t kGroupLength = 5;  // a backslash and four digits

}  // namespace

std::optional<std::vector<WORD>> ParseCertificatePath(std::span<const BYTE> text) {
  std::vector<WORD> identifiers;
  for (std::size_t pos = 0; pos < text.size() && text[pos] != '\0'; pos += kGroupLength) {
    if (text[pos] != '\\') return std::nullopt;
    // The digits of this group: up to four, up to the first character that
    // is not one, never past the end of the text.
    const char* const first = reinterpret_cast<const char*>(text.data()) + pos + 1;
    const std::size_t room = std::min(kGroupLength - 1, text.size() - pos - 1);
    unsigned value = 0;
    if (std::from_chars(first, first + room, value, 16).ec != std::errc()) {
      // A closing backslash ends the path; anything after it does not.
      const std::size_t next = pos + 1;
      if (next == text.size() || text[next] == '\0') break;
      return std::nullopt;
    }
    if (identifiers.size() == kMaxPathIdentifiers) return std::nullopt;
    identifiers.push_back(static_cast<WORD>(value));
  }
  if (identifiers.empty()) return std::nullopt;
  return identifiers;
}

std::span<const BYTE> TypeAttributesPath(const BYTE* element, const BYTE* end) {
  const auto type = ExpectDerElement(element, end, 0xA1);
  if (!type) return {};
  const auto path = ExpectDerElement(type->content, type->end, 0x30);
  if (!path) return {};
  const auto text = ExpectDerElement(path->content, path->end, 0x04);
  if (!text) return {};
  return {text->content, text->Size()};
}
