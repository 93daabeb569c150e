// Virtual cards prepared with key records, "OrvelCSP" registered in a
// private user directory, and reading back what the provider stored.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardsim/virtual_card.h"
#include "platform/wincrypt.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace orvelcsp_test {

using Bytes = std::vector<std::uint8_t>;
using card_test::KeyId;

using card_test::kApplicationDf, card_test::kCdf, card_test::kPrkdf, card_test::kPukdf;
inline constexpr std::array<std::uint8_t, 6> kSerial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
inline constexpr char kPin[] = "1234";

std::shared_ptr<cardsim::VirtualCard> MakeCard(const std::array<std::uint8_t, 6>& serial,
                                               cardsim::CardSpec spec = {});

// One key written under reference in the roles of roleWord: its private-key
// record, and its public-key record unless withPublicRecord is false.
struct KeyOnCard {
  std::uint8_t reference = 0x20;
  KeyId id{};
  std::uint16_t roleWord = 0x6400;
  bool withPublicRecord = true;
};
// Writes the records of the keys into the card's PrKDF and PuKDF.
void WriteKeyRecords(cardsim::VirtualCard& card, const std::vector<KeyOnCard>& keys);

// "0123456789AB640020\3F11\3F77\" from its parts.
std::string ContainerName(const std::array<std::uint8_t, 6>& serial, std::uint16_t usage,
                          std::uint8_t reference);

std::string Hex(const Bytes& bytes);

// A DER element as the test reads it from a file.
struct Tlv {
  std::uint8_t tag = 0;
  std::size_t headerSize = 0;
  Bytes content;
  std::size_t Size() const { return headerSize + content.size(); }
};
std::optional<Tlv> ReadTlv(const Bytes& data, std::size_t offset);

// What a certificate record of the card's CDF says, read the way the store
// provider reads it: identifier element, path text, file identifiers.
struct CertificateEntry {
  std::size_t offset = 0;
  std::size_t size = 0;
  Bytes identifierElement;
  std::string pathText;
  std::vector<std::uint16_t> path;
  Bytes lengthValue;
};
std::vector<CertificateEntry> ReadCertificateDirectory(const cardsim::VirtualCard& card);

// The certificate held in the file at path: header checked, zlib stream
// expanded. Nothing (and a test failure) when the file does not hold one.
std::optional<Bytes> ReadCertificateFile(const cardsim::VirtualCard& card,
                                         const std::vector<std::uint16_t>& path);

// Registers "OrvelCSP" in a private user directory.
class ProviderTest : public testpki::UserDirTest {
 protected:
  void SetUp() override;

  // DER of a certificate for a 1024-bit key.
  static Bytes CertificateDer(int which = 0);
};

}  // namespace orvelcsp_test
