#include "container_name.h"

#include <charconv>
#include <cstring>

namespace {

// Containers names are short; anything longer is not one of ours.
constexpr std::size_t kMaxNameLength = 128;
constexpr std::size_t kDigits = 18;  // serial 12, usage 4, key reference 2

}  // namespace

std::optional<ContainerName> ParseContainerName(const char* name) {
  if (name == nullptr) return std::nullopt;
  const std::size_t length = strnlen(name, kMaxNameLength + 1);
  if (length <= kDigits || length > kMaxNameLength) return std::nullopt;

  BYTE bytes[kDigits / 2];
  for (std::size_t i = 0; i < kDigits / 2; ++i) {
    const char* const digits = name + 2 * i;
    const auto [end, error] = std::from_chars(digits, digits + 2, bytes[i], 16);
    if (error != std::errc() || end != digits + 2) return std::nullopt;
  }
  if (name[kDigits] != '\\') return std::nullopt;

  ContainerName parsed;
  std::memcpy(parsed.serial.data(), bytes, kCardSerialSize);
  parsed.usage = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  parsed.keyReference = bytes[8];
  parsed.keyPath.assign(name + kDigits, length - kDigits);
  return parsed;
}
