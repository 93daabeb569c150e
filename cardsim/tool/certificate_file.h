// Certificate files on the card: an 8-byte header (uncompressed length and
// compressed length, each 32-bit little-endian) and a zlib stream holding
// the DER certificate.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cardsim/virtual_card.h"

namespace orvelcard {

struct CertificateFile {
  std::uint32_t uncompressedLength = 0;
  std::uint32_t compressedLength = 0;
  std::optional<cardsim::Bytes> certificate;  // the DER bytes, when they could be had
  std::string subject;                        // one line; empty without a certificate
  std::string problem;                        // why there is no certificate
};

// Certificates larger than this are not expanded (the system's readers take
// at most 2048 bytes; this leaves room and bounds what a file can make us
// allocate).
inline constexpr std::uint32_t kMaxCertificateSize = 64 * 1024;

// std::nullopt when the file is too short to hold the header.
std::optional<CertificateFile> ReadCertificateFile(const cardsim::Bytes& file);

}  // namespace orvelcard
