// What both benchmarks prepare: a private user directory with the card's
// provider and card type registered, and one PFX with a 1024-bit key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench_import_ui.h"
#include "platform/wincrypt.h"

namespace wizard_bench {

inline constexpr char kPassword[] = "secreto";
inline constexpr char16_t kWidePassword[] = u"secreto";
inline constexpr char kPin[] = "1234";

// Sets ORVEL_USER_DIR to a fresh directory (the previous one removed) and
// registers "OrvelCSP" and the card type "DRAV-NOR" there; false when that fails.
bool PrepareUserState();
// Imports the PFX to the card in the reader: true when the import completed
// with the summary message 18.
bool ImportSample(CBenchImportUi& ui);
// The PFX, made once.
std::vector<std::uint8_t>& SamplePfx();

}  // namespace wizard_bench
