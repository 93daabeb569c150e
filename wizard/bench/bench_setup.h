// What both benchmarks prepare: a private user directory with the card's
// provider and card type registered, and one PFX with a 1024-bit key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wincrypt.h"

namespace wizard_bench {

inline constexpr char kPassword[] = "secreto";
inline constexpr char16_t kWidePassword[] = u"secreto";
inline constexpr char kPin[] = "1234";

// Sets ORVEL_USER_DIR to a fresh directory and registers "OrvelCSP" and the
// card type "DRAV-NOR" there; false when that fails.
bool PrepareUserState();
// The PFX, made once.
std::vector<std::uint8_t>& SamplePfx();

}  // namespace wizard_bench
