// Directory records and object directory entries as they stand on a card,
// for preparing virtual cards in tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace card_test {

using Bytes = std::vector<std::uint8_t>;
using KeyId = std::array<std::uint8_t, 20>;

// Files of the card: the application DF with its private-key, public-key and
// certificate directory files, and the DF of the key and certificate files.
inline constexpr std::uint16_t kApplicationDf = 0x5015;
inline constexpr std::uint16_t kPrkdf = 0x6001;
inline constexpr std::uint16_t kPukdf = 0x6002;
inline constexpr std::uint16_t kCdf = 0x6004;
inline constexpr std::uint16_t kCryptoDf = 0x3F11;

// A 20-byte identifier whose bytes start at `first` and count up.
KeyId MakeKeyId(std::uint8_t first);

// The 85-byte private-key record: identifier 04 14 id, usage 06 64 00,
// access flags 03 02 03 98, key reference `reference`, path "\3F11\3F77\".
Bytes PrivateKeyRecord(std::uint8_t reference, const KeyId& id);
// The 85-byte public-key record: usage from the role word, access flags
// 03 02 03 48, path "\3F11\3F78\".
Bytes PublicKeyRecord(std::uint8_t reference, const KeyId& id, std::uint16_t roleWord = 0x6400);
// A certificate record whose common certificate attributes begin with the
// identifier element `idElement` (tag, length, bytes) and whose path names
// the file `path` (for instance "\3F11\0101").
Bytes CertificateRecord(const Bytes& idElement, const std::string& path);
// 04 14 followed by the identifier.
Bytes IdElement(const KeyId& id);

// Concatenation.
Bytes Join(std::initializer_list<Bytes> parts);

// Contents of a directory file of `size` bytes: the records, then zeros.
Bytes DirectoryFile(const Bytes& records, std::size_t size);

}  // namespace card_test
