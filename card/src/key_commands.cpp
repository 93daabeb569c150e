// The card's key commands of class 90: writing the public and the private
// part of an RSA key under a key reference and role. Key material goes into
// the command buffer big-endian and is wiped from it after every sequence,
// whatever its outcome.
#include "card/crypto_card.h"
#include "common/secure_wipe.h"

namespace {

constexpr BYTE kModulusTag = 0x14;
constexpr BYTE kExponentTag = 0x12;
constexpr BYTE kExponentBytes = 3;

constexpr BYTE RoleP1(bool signatureRole) {
  return signatureRole ? kKeyP1Signature : kKeyP1Exchange;
}

}  // namespace

bool CCryptoCard::WritePublicKey(bool signatureRole, BYTE keyReference,
                                 std::span<const BYTE, kModulusBytes> modulus, DWORD exponent) {
  const BYTE p1 = RoleP1(signatureRole);
  bool written = false;

  const BYTE modulusHead[] = {kModulusTag, static_cast<BYTE>(kModulusBytes)};
  SendCommand(kClaProprietary, kInsWriteKeyPublic, p1, keyReference,
              {{modulusHead}, {modulus, true}});

  if (StepSucceeded()) {
    // The three low bytes, least significant first.
    const BYTE exponentElement[] = {
        kExponentTag, kExponentBytes, static_cast<BYTE>(exponent & 0xFF),
        static_cast<BYTE>((exponent >> 8) & 0xFF), static_cast<BYTE>((exponent >> 16) & 0xFF)};
    SendCommand(kClaProprietary, kInsWriteKeyPublic, p1, keyReference, {{exponentElement}});
    written = StepSucceeded();
  }

  SecureWipe(m_command.data(), m_command.size());
  return written;
}

bool CCryptoCard::WritePrivateKey(bool signatureRole, BYTE keyReference,
                                  std::span<const BYTE, kPrimeBytes> prime1,
                                  std::span<const BYTE, kPrimeBytes> prime2,
                                  std::span<const BYTE, kPrimeBytes> coefficient,
                                  std::span<const BYTE, kPrimeBytes> exponent1,
                                  std::span<const BYTE, kPrimeBytes> exponent2) {
  const BYTE p1 = RoleP1(signatureRole);
  const struct {
    BYTE tag;
    std::span<const BYTE, kPrimeBytes> value;
  } parts[] = {
      {0x02, prime1}, {0x04, prime2}, {0x06, coefficient}, {0x08, exponent1}, {0x0A, exponent2},
  };

  bool written = true;
  for (const auto& part : parts) {
    const BYTE head[] = {part.tag, static_cast<BYTE>(kPrimeBytes)};
    SendCommand(kClaProprietary, kInsWriteKeyPrivate, p1, keyReference,
                {{head}, {part.value, true}});
    if (!StepSucceeded()) {
      written = false;
      break;
    }
  }

  SecureWipe(m_command.data(), m_command.size());
  return written;
}
