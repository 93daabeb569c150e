// The card's key commands of class 90: writing the public and the private
// part of an RSA key under a key reference and role. Key material goes into
// the command buffer big-endian and is wiped from it after every sequence,
// whatever its outcome.
#include "card/crypto_card.h"
#include "common/reverse_bytes.h"
#include "common/secure_wipe.h"

namespace {

constexpr BYTE kExchangeRoleP1 = 0x40;
constexpr BYTE kSignatureRoleP1 = 0x80;

constexpr BYTE kModulusTag = 0x14;
constexpr BYTE kExponentTag = 0x12;
constexpr BYTE kExponentBytes = 3;

constexpr BYTE RoleP1(bool signatureRole) {
  return signatureRole ? kSignatureRoleP1 : kExchangeRoleP1;
}

}  // namespace

bool CCryptoCard::WritePublicKey(bool signatureRole, BYTE keyReference,
                                 std::span<const BYTE, kModulusBytes> modulus, DWORD exponent) {
  const BYTE p1 = RoleP1(signatureRole);
  bool written = false;

  SetHeader(0x90, 0x50, p1, keyReference, 2 + kModulusBytes);
  m_command[5] = kModulusTag;
  m_command[6] = static_cast<BYTE>(kModulusBytes);
  ReverseBytes(&m_command[7], modulus.data(), kModulusBytes);
  m_sendLength = 7 + kModulusBytes;
  Transmit();

  if (StepSucceeded()) {
    SetHeader(0x90, 0x50, p1, keyReference, 2 + kExponentBytes);
    m_command[5] = kExponentTag;
    m_command[6] = kExponentBytes;
    for (BYTE i = 0; i < kExponentBytes; ++i) {
      m_command[7 + i] = static_cast<BYTE>((exponent >> (8 * i)) & 0xFF);
    }
    m_sendLength = 7 + kExponentBytes;
    Transmit();
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
    const BYTE* value;
  } parts[] = {
      {0x02, prime1.data()},    {0x04, prime2.data()},    {0x06, coefficient.data()},
      {0x08, exponent1.data()}, {0x0A, exponent2.data()},
  };

  bool written = true;
  for (const auto& part : parts) {
    SetHeader(0x90, 0x52, p1, keyReference, 2 + kPrimeBytes);
    m_command[5] = part.tag;
    m_command[6] = static_cast<BYTE>(kPrimeBytes);
    ReverseBytes(&m_command[7], part.value, kPrimeBytes);
    m_sendLength = 7 + kPrimeBytes;
    Transmit();
    if (!StepSucceeded()) {
      written = false;
      break;
    }
  }

  SecureWipe(m_command.data(), m_command.size());
  return written;
}
