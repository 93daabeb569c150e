// Virtual cards holding certificates as the card's provider leaves them:
// each certificate in a file of its own under 3F11 (8-byte header and a zlib
// stream), a certificate record naming it, and a private-key record with the
// same identifier when it has a key on the card.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cardsim/virtual_card.h"

namespace storeprov_test {

using Bytes = std::vector<std::uint8_t>;

struct CardCertificate {
  Bytes der;
  // Key reference of its private key on the card; none: no key record.
  std::optional<std::uint8_t> keyReference;
  // The usage bytes of the private-key record.
  std::uint16_t keyUsage = 0x6400;
};

// A self-signed certificate of a 1024-bit key; `n` makes it distinct.
Bytes TestCertificate(int n);

// A fresh card (PIN "1234") with that serial and these certificates.
std::shared_ptr<cardsim::VirtualCard> CardWithCertificates(
    std::uint8_t serial, const std::vector<CardCertificate>& certificates);

// `count` certificates with keys under references 32, 33, ...; certificate
// numbers start at firstCertificate.
std::vector<CardCertificate> KeyedCertificates(int count, int firstCertificate = 0);

// The card serial as the container names carry it ("0A0B0C0D0E" + serial).
std::string SerialText(std::uint8_t serial);

}  // namespace storeprov_test
