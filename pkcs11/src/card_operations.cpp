#include "card_operations.h"

namespace orvel_p11 {

LONG SignWithCardKey(CCryptoCard& card, BYTE keyReference, std::span<const BYTE> digestInfo,
                     std::span<BYTE, kModulusBytes> signature) {
  card.SetSecurityEnvironment(true, keyReference);
  if (!card.StepSucceeded()) return card.LastResult();
  return card.ComputeSignature(digestInfo, signature);
}

LONG DecipherWithCardKey(CCryptoCard& card, BYTE keyReference,
                         std::span<const BYTE, kModulusBytes> cryptogram,
                         std::vector<BYTE>* plaintext) {
  card.SetSecurityEnvironment(false, keyReference);
  if (!card.StepSucceeded()) return card.LastResult();
  return card.Decipher(cryptogram, plaintext);
}

}  // namespace orvel_p11
