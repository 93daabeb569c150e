// A whole card, as the store provider reads it when it fills a store: the
// card's chip information, then every certificate through the cache record
// of its reader, then the certificates into a memory store with their
// key-provider information. Files and transport faults come from the input
// (card_harness.h).
#include <cstddef>
#include <cstdint>

#include "card/crypto_card.h"
#include "card_harness.h"
#include "platform/handle_guards.h"
#include "platform/wincrypt.h"
#include "storeprov/card_cert_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orvel_fuzz;
  PrepareProcess();
  InputReader in(data, size);
  WithInputCard(in, [](CCryptoCard& card) {
    ChipInfo identifier{};
    card.GetChipInfo(&identifier);
    CCardCertCache cache(identifier);
    cache.ReadFromCard(card);
    for (const CardCertEntry* entry = cache.Entries(); entry != nullptr;
         entry = entry->next.get()) {
      if (entry->certificateLength == 0 || entry->certificateLength > kCertificateBufferSize) {
        __builtin_trap();
      }
    }
    const CCertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (store) cache.AddToStore(store.Get());
  });
  return 0;
}
