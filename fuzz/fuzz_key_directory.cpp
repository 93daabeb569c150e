// Key directories as the card holds them: the reference scan, the lookup by
// identifier and the append of a new key's records, over the input's files
// and transport faults.
//
// Input: flags (bit 0: verify the PIN first, bit 1: append records), key
// reference, role word (2 bytes), identifier element length and bytes
// (at most 64), then the card (card_harness.h).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "card/crypto_card.h"
#include "card_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel_fuzz;
  PrepareProcess();
  InputReader in(data, size);
  const std::uint8_t flags = in.Byte();
  const std::uint8_t reference = in.Byte();
  const std::uint16_t roleWord = in.Word();
  const auto idBytes = in.Take(in.Byte() % 65);
  // An exact-size copy, so that a read past the identifier is seen.
  const std::vector<BYTE> idElement(idBytes.begin(), idBytes.end());
  WithInputCard(in, [&](CCryptoCard& card) {
    if ((flags & 0x01) != 0) card.VerifyPin(FuzzCard::kPin);
    KeyReferenceMap map{};
    // Success whatever the card did, as the installation relies on.
    if (card.ScanKeyReferences(&map) != 1) __builtin_trap();
    card.FindPrivateKeyById(idElement);
    if ((flags & 0x02) != 0) {
      std::array<BYTE, kKeyIdentifierBytes> identifier{};
      const std::size_t n = std::min(idElement.size(), identifier.size());
      std::copy_n(idElement.begin(), n, identifier.begin());
      card.AddKeyDirectoryEntries(reference, identifier, roleWord);
      if (card.ScanKeyReferences(&map) != 1) __builtin_trap();
    }
  });
  return 0;
}
