#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "common/reverse_bytes.h"
#include "common/secure_wipe.h"
#include "common/windows_version.h"

namespace {

TEST(ReverseBytes, TurnsLittleEndianIntoBigEndian) {
  // The public exponent 65537 as the platform stores it, and as the card wants it.
  const std::array<std::uint8_t, 4> little = {0x01, 0x00, 0x01, 0x00};
  std::array<std::uint8_t, 4> big{};
  ReverseBytes(big.data(), little.data(), big.size());
  EXPECT_EQ(big, (std::array<std::uint8_t, 4>{0x00, 0x01, 0x00, 0x01}));

  const std::array<std::uint8_t, 5> odd = {1, 2, 3, 4, 5};
  std::array<std::uint8_t, 5> out{};
  ReverseBytes(out.data(), odd.data(), out.size());
  EXPECT_EQ(out, (std::array<std::uint8_t, 5>{5, 4, 3, 2, 1}));
}

TEST(ReverseBytes, WritesOnlyCountBytes) {
  const std::array<std::uint8_t, 3> source = {0xA, 0xB, 0xC};
  std::array<std::uint8_t, 5> destination = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  ReverseBytes(destination.data(), source.data(), 3);
  EXPECT_EQ(destination, (std::array<std::uint8_t, 5>{0xC, 0xB, 0xA, 0xEE, 0xEE}));
  ReverseBytes(destination.data(), source.data(), 0);
  EXPECT_EQ(destination[0], 0xC);
}

TEST(IsWindowsNT, ThisPlatformIsOfTheNtFamily) { EXPECT_TRUE(IsWindowsNT()); }

TEST(SecureWipe, ClearsEveryByte) {
  std::array<char, 8> pin = {'1', '2', '3', '4', '5', '6', '7', '8'};
  SecureWipe(pin.data(), pin.size());
  for (char c : pin) EXPECT_EQ(c, '\0');
}

}  // namespace
