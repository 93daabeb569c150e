#include "container_name.h"

#include <cstring>

namespace {

// Containers names are short; anything longer is not one of ours.
constexpr std::size_t kMaxNameLength = 128;
constexpr std::size_t kDigits = 18;  // serial 12, usage 4, key reference 2

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<ContainerName> ParseContainerName(const char* name) {
  if (name == nullptr) return std::nullopt;
  const std::size_t length = strnlen(name, kMaxNameLength + 1);
  if (length <= kDigits || length > kMaxNameLength) return std::nullopt;

  BYTE bytes[kDigits / 2];
  for (std::size_t i = 0; i < kDigits / 2; ++i) {
    const int high = HexValue(name[2 * i]);
    const int low = HexValue(name[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<BYTE>(high << 4 | low);
  }
  if (name[kDigits] != '\\') return std::nullopt;

  ContainerName parsed;
  std::memcpy(parsed.serial.data(), bytes, kCardSerialSize);
  parsed.usage = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  parsed.keyReference = bytes[8];
  parsed.keyPath.assign(name + kDigits, length - kDigits);
  return parsed;
}
