// Command-line arguments of the card tool.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace orvelcard {

// Twelve hexadecimal digits.
std::optional<std::array<std::uint8_t, 6>> ParseSerial(const std::string& text);

// A decimal number within [low, high].
std::optional<std::size_t> ParseNumber(const std::string& text, std::size_t low, std::size_t high);

// IMAGE.json or IMAGE.json:PORT. Only a colon followed by digits alone
// counts as a port, so other paths with colons stay whole.
struct ImageArgument {
  std::filesystem::path path;
  std::optional<std::uint16_t> port;
};
std::optional<ImageArgument> ParseImageArgument(const std::string& text);

}  // namespace orvelcard
