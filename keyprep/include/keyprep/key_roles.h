// The roles in which a key is written to the card, as one 16-bit word. The
// word travels unchanged to the card library: it selects which of the two
// keys are written, it is the usage field of the public-key record and four
// hexadecimal digits of the key-container name.
#pragma once

#include "platform/win32.h"

using KeyRoleWord = WORD;

// Bit asking for the exchange (encipherment) key; 0x0400 always goes with it.
inline constexpr KeyRoleWord kKeyRoleExchangeBit = 0x4000;
// Bit asking for the signature key.
inline constexpr KeyRoleWord kKeyRoleSignatureBit = 0x2000;

// The only values made.
inline constexpr KeyRoleWord kKeyRoleExchange = 0x4400;   // exchange key only
inline constexpr KeyRoleWord kKeyRoleSignature = 0x2000;  // signature key only
inline constexpr KeyRoleWord kKeyRoleBoth = 0x6400;       // both
