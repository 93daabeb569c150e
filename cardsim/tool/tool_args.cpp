#include "tool_args.h"

namespace orvelcard {

std::optional<std::array<std::uint8_t, 6>> ParseSerial(const std::string& text) {
  if (text.size() != 12) return std::nullopt;
  std::array<std::uint8_t, 6> serial{};
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else
      return std::nullopt;
    serial[i / 2] = static_cast<std::uint8_t>(serial[i / 2] << 4 | digit);
  }
  return serial;
}

std::optional<std::size_t> ParseNumber(const std::string& text, std::size_t low, std::size_t high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<ImageArgument> ParseImageArgument(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const std::size_t colon = text.rfind(':');
  if (colon != std::string::npos && colon + 1 < text.size() &&
      text.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    const std::optional<std::size_t> port = ParseNumber(text.substr(colon + 1), 1, 65535);
    if (!port || colon == 0) return std::nullopt;
    return ImageArgument{text.substr(0, colon), static_cast<std::uint16_t>(*port)};
  }
  return ImageArgument{text, std::nullopt};
}

}  // namespace orvelcard
