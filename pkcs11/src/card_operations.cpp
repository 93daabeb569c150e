#include "card_operations.h"

namespace orvel_p11 {
namespace {

// Until the card library has the security operations, the module reports
// them as unsupported by the card.
template <class Card>
LONG Sign(Card& card, BYTE keyReference, std::span<const BYTE> digestInfo,
          std::span<BYTE, kModulusBytes> signature) {
  if constexpr (requires { card.ComputeSignature(digestInfo, signature); }) {
    card.SetSecurityEnvironment(true, keyReference);
    if (!card.StepSucceeded()) return card.LastResult();
    return card.ComputeSignature(digestInfo, signature);
  } else {
    return SCARD_E_UNSUPPORTED_FEATURE;
  }
}

template <class Card>
LONG Decipher(Card& card, BYTE keyReference, std::span<const BYTE, kModulusBytes> cryptogram,
              std::vector<BYTE>* plaintext) {
  if constexpr (requires { card.Decipher(cryptogram, plaintext); }) {
    card.SetSecurityEnvironment(false, keyReference);
    if (!card.StepSucceeded()) return card.LastResult();
    return card.Decipher(cryptogram, plaintext);
  } else {
    return SCARD_E_UNSUPPORTED_FEATURE;
  }
}

}  // namespace

LONG SignWithCardKey(CCryptoCard& card, BYTE keyReference, std::span<const BYTE> digestInfo,
                     std::span<BYTE, kModulusBytes> signature) {
  return Sign(card, keyReference, digestInfo, signature);
}

LONG DecipherWithCardKey(CCryptoCard& card, BYTE keyReference,
                         std::span<const BYTE, kModulusBytes> cryptogram,
                         std::vector<BYTE>* plaintext) {
  return Decipher(card, keyReference, cryptogram, plaintext);
}

}  // namespace orvel_p11
