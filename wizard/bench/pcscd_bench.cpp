// One certificate's card work (PIN given to summary shown) through the real
// pcscd, with the virtual card in a vpcd reader (needs root).
#include <benchmark/benchmark.h>

#include "bench_import_ui.h"
#include "bench_setup.h"
#include "orvel_test/benchmark_rig.h"

namespace {

void BM_CardWorkThroughPcscd(benchmark::State& state) {
  if (!wizard_bench::PrepareUserState()) return state.SkipWithError("no user state");
  std::size_t commands = 0;
  for (auto _ : state) {
    // A fresh card in a fresh daemon for every round (not timed).
    cardsim::CardSpec spec;
    spec.serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    auto card = cardsim::VirtualCard::MakeFresh(spec);
    const auto rig = orvel_test::StartRig(state, card);
    if (!rig) return;
    CBenchImportUi ui(wizard_bench::kPin, [&card] { return card->CommandCount(); });
    if (!wizard_bench::ImportSample(ui)) return state.SkipWithError("the import did not complete");
    state.SetIterationTime(ui.Seconds());
    commands = ui.Commands();
  }
  state.counters["commands"] = static_cast<double>(commands);
}
BENCHMARK(BM_CardWorkThroughPcscd)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
