// The first population of a card with ten certificates through the real
// pcscd and a vpcd reader: card commands and time. Needs root (it starts a
// private pcscd).
#include <benchmark/benchmark.h>

#include "cardsim/pcscd_rig.h"
#include "orvel_test/benchmark_main.h"
#include "populate_card_store.h"
#include "reader_state.h"
#include "support/card_certificates.h"
#include "support/memory_store.h"

namespace {

void BM_FirstPopulationTenCertificatesThroughPcscd(benchmark::State& state) {
  const auto card =
      storeprov_test::CardWithCertificates(0x01, storeprov_test::KeyedCertificates(10, 300));
  cardsim::PcscdRig rig({card});
  rig.Start();
  std::size_t commands = 0;
  std::size_t certificates = 0;
  for (auto _ : state) {
    state.PauseTiming();
    InitializeReaderState();
    storeprov_test::MemoryStore store;
    const std::size_t before = card->CommandCount();
    state.ResumeTiming();
    PopulateCardStore(store.Get());
    state.PauseTiming();
    commands = card->CommandCount() - before;
    certificates = store.Certificates().size();
    ReleaseReaderCaches();
    state.ResumeTiming();
  }
  state.counters["card_commands"] = static_cast<double>(commands);
  state.counters["certificates"] = static_cast<double>(certificates);
  if (certificates != 10) state.SkipWithError("the card's ten certificates were not all read");
}
BENCHMARK(BM_FirstPopulationTenCertificatesThroughPcscd)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return orvel_test::RunBenchmarksInUserDir(argc, argv); }
