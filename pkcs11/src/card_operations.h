// The card's private-key operations used by the mechanisms: MANAGE SECURITY
// ENVIRONMENT for the key, then COMPUTE DIGITAL SIGNATURE or DECIPHER, through
// the card object. Each returns the PC/SC result; the status word stays in
// the card object.
#pragma once

#include <span>
#include <vector>

#include "card/crypto_card.h"

namespace orvel_p11 {

LONG SignWithCardKey(CCryptoCard& card, BYTE keyReference, std::span<const BYTE> digestInfo,
                     std::span<BYTE, kModulusBytes> signature);
LONG DecipherWithCardKey(CCryptoCard& card, BYTE keyReference,
                         std::span<const BYTE, kModulusBytes> cryptogram,
                         std::vector<BYTE>* plaintext);

}  // namespace orvel_p11
