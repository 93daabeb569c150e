// Byte-order reversal between the platform's little-endian key integers and
// the card's big-endian ones.
#pragma once

#include <cstddef>

// Writes destination[count - 1 - i] = source[i] for i in [0, count).
// Source and destination must not overlap.
void ReverseBytes(void* destination, const void* source, std::size_t count);
