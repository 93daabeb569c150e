// The virtual card's card type and its provider, registered for the current
// user (ORVEL_USER_DIR) as an installation registers them.
#pragma once

#include <cstdint>
#include <vector>

#include "cardsim/virtual_card.h"
#include "platform/card_database.h"
#include "platform/provider_registry.h"
#include "platform/wincrypt.h"

namespace orvel_test {

// "DRAV-NOR" by this ATR (the virtual card's unless told), every bit compared.
inline bool RegisterCardType(const std::vector<std::uint8_t>& atr = cardsim::VirtualCard::Atr()) {
  return platform::RegisterCardType({"DRAV-NOR", atr, std::vector<std::uint8_t>(atr.size(), 0xFF)});
}

// The card's provider "OrvelCSP", module liborvelcsp.so.
inline bool RegisterCardProvider() {
  return platform::RegisterProvider("OrvelCSP", PROV_RSA_FULL, "liborvelcsp.so");
}

}  // namespace orvel_test
