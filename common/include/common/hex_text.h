// Bytes as hexadecimal text: two digits a byte, without separators.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Upper-case digits, or lower-case ones when asked for.
inline std::string HexText(std::span<const std::uint8_t> bytes, bool lowerCase = false) {
  const char* const digits = lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 0x0F]);
  }
  return text;
}
