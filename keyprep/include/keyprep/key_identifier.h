// The 20-byte key identifier: the SHA-1 digest of the key's modulus in
// big-endian order, computed by the card's provider.
#pragma once

#include <array>

#include "platform/win32.h"

inline constexpr std::size_t kKeyIdentifierSize = 20;
using KeyIdentifier = std::array<BYTE, kKeyIdentifierSize>;

// modulus: little-endian, as it stands in the private-key blob; length in
// bytes (bit length / 8). The digest goes to *identifier. True only when the
// card's provider hashed the big-endian modulus and gave back 20 bytes.
bool ComputeKeyIdentifier(const BYTE* modulus, DWORD length, KeyIdentifier* identifier);
