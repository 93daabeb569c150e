// The object directory as the card holds it, and every way its reading can
// be answered: CCryptoCard reads it on construction, and once more on a card
// whose transport state the first reading may have changed.
#include <cstddef>
#include <cstdint>

#include "card/crypto_card.h"
#include "card_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel_fuzz;
  PrepareProcess();
  InputReader in(data, size);
  WithInputCard(in, [](CCryptoCard& card) {
    card.ReadObjectDirectory();
    // The table then leads every directory operation; its first SELECT goes
    // to whatever identifier the ODF named.
    card.SelectApplication(card.DirectoryFiles()[kCertificateDirectory]);
  });
  return 0;
}
