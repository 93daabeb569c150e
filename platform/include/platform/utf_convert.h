// Conversion between the platform's wide strings (UTF-16) and its ANSI code
// page, which is UTF-8 on this platform.
#pragma once

#include "platform/win32.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Appends the UTF-8 form of text to out (any container of char with
// push_back); false on an unpaired surrogate.
template <class Out>
bool AppendUtf8(std::u16string_view text, Out& out) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return true;
}

// The UTF-8 form of a NUL-terminated wide string (empty for null); nothing
// when the text holds an unpaired surrogate.
std::optional<std::string> ToUtf8(LPCWSTR text);

// UTF-16 of UTF-8 text. Invalid sequences (stray or missing continuation
// bytes, overlong forms, surrogates, values above U+10FFFF) become U+FFFD,
// one per offending byte; *invalid, when given, tells whether there were any.
std::u16string ToUtf16(std::string_view text, bool* invalid = nullptr);

}  // namespace platform
