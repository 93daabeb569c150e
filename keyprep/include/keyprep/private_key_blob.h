// The platform's PRIVATEKEYBLOB of a 1024-bit RSA key, as exported for the
// card. Every integer is little-endian, as the platform stores it; the card
// library reverses each part before sending it. The object wipes its bytes
// whenever it goes away.
#pragma once

#include <array>
#include <cstddef>

#include "common/non_copyable.h"
#include "platform/win32.h"

class PrivateKeyBlob : private NonCopyable {
 public:
  static constexpr std::size_t kSize = 596;
  static constexpr DWORD kBitLength = 1024;

  // Offsets and sizes of the fields.
  static constexpr std::size_t kBitLengthOffset = 12;
  static constexpr std::size_t kPublicExponentOffset = 16;
  static constexpr std::size_t kModulusOffset = 20;
  static constexpr std::size_t kModulusSize = 128;
  static constexpr std::size_t kPrime1Offset = 148;
  static constexpr std::size_t kPrime2Offset = 212;
  static constexpr std::size_t kExponent1Offset = 276;
  static constexpr std::size_t kExponent2Offset = 340;
  static constexpr std::size_t kCoefficientOffset = 404;
  static constexpr std::size_t kPrivateExponentOffset = 468;
  static constexpr std::size_t kPrimeSize = 64;

  PrivateKeyBlob() = default;
  ~PrivateKeyBlob() { Wipe(); }

  BYTE* Data() { return m_bytes.data(); }
  const BYTE* Data() const { return m_bytes.data(); }

  DWORD BitLength() const { return ReadLittleEndian32(kBitLengthOffset); }
  DWORD PublicExponent() const { return ReadLittleEndian32(kPublicExponentOffset); }
  const BYTE* Modulus() const { return m_bytes.data() + kModulusOffset; }
  const BYTE* Prime1() const { return m_bytes.data() + kPrime1Offset; }
  const BYTE* Prime2() const { return m_bytes.data() + kPrime2Offset; }
  const BYTE* Exponent1() const { return m_bytes.data() + kExponent1Offset; }
  const BYTE* Exponent2() const { return m_bytes.data() + kExponent2Offset; }
  const BYTE* Coefficient() const { return m_bytes.data() + kCoefficientOffset; }

  // Zeroes every byte, in a way the compiler keeps.
  void Wipe();

 private:
  DWORD ReadLittleEndian32(std::size_t offset) const {
    return static_cast<DWORD>(m_bytes[offset]) | static_cast<DWORD>(m_bytes[offset + 1]) << 8 |
           static_cast<DWORD>(m_bytes[offset + 2]) << 16 |
           static_cast<DWORD>(m_bytes[offset + 3]) << 24;
  }

  std::array<BYTE, kSize> m_bytes{};
};
