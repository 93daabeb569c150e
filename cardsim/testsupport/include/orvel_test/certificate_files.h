// Certificate files as the card holds them, and the certificates read back
// as the store provider reads them.
#pragma once

#include <winscard.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvel_test {

using Bytes = std::vector<std::uint8_t>;

// v as four bytes, least significant first.
Bytes LittleEndian32(std::uint32_t v);
// A certificate file as the card's provider writes it: the uncompressed and
// the compressed length (LittleEndian32 each), then the zlib stream made at
// `level` (-1: zlib's default). Throws when zlib fails.
Bytes CertificateFile(const Bytes& der, int level = -1);

// What one call of CCryptoCard::ReadCertificateEntry gave: the certificate
// (none when the length came back unchanged), the container name, the usage.
struct ReadEntry {
  std::optional<Bytes> certificate;
  std::string containerName;
  std::uint16_t usage = 0;
};
// The store provider's reading loop over the card at `card`, with a 2048-byte
// certificate and a 128-byte name buffer, up to the first call that answers 0
// and at most maxCalls calls: the entries of the calls that answered 1; every
// call's result in *results.
std::vector<ReadEntry> ReadCertificateEntries(SCARDHANDLE card, int maxCalls = 64,
                                              std::vector<int>* results = nullptr);
// The same over the card "DRAV-NOR" that the card library connects to; none
// (and a test failure) when it cannot connect.
std::vector<ReadEntry> ReadCardCertificates(std::vector<int>* results = nullptr);

}  // namespace orvel_test
