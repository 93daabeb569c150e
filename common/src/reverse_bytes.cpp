#include "common/reverse_bytes.h"

#include <cstdint>

void ReverseBytes(void* destination, const void* source, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(destination);
  const auto* in = static_cast<const std::uint8_t*>(source);
  for (std::size_t i = 0; i < count; ++i) out[count - 1 - i] = in[i];
}
