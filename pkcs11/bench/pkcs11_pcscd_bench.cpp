// The same listings, and a signature, through the real pcscd with a vpcd reader (needs root):
// card commands as the virtual card counts them, and the time taken.
#include <benchmark/benchmark.h>

#include "cardsim/pcscd_rig.h"
#include "listing.h"
#include "platform/card_database.h"
#include "token_card.h"

namespace {

using p11_test::Bytes;

struct Bench {
  Bench() {
    const Bytes atr = cardsim::VirtualCard::Atr();
    platform::RegisterCardType({"DRAV-NOR", atr, Bytes(atr.size(), 0xFF)});
    card = p11_test::MakeTokenCard(p11_test::KeysInBothRoles(10)).card;
    rig = std::make_unique<cardsim::PcscdRig>(std::vector{card});
    rig->Start();
  }
  platform_test::ScopedUserDir userDir;
  std::shared_ptr<cardsim::VirtualCard> card;
  std::unique_ptr<cardsim::PcscdRig> rig;
  p11_test::Module module;
};

Bench& TheBench() {
  static Bench bench;
  return bench;
}

// The card commands of one listing; the benchmark fails when the listing does.
double CommandsOfListing(benchmark::State& state, Bench& bench) {
  const std::size_t before = bench.card->CommandCount();
  if (p11_bench::ListToken(bench.module.Functions()) != 20) state.SkipWithError("listing");
  return static_cast<double>(bench.card->CommandCount() - before);
}

void ReportCommands(benchmark::State& state, double commands) {
  state.counters["commands"] = commands / static_cast<double>(state.iterations());
}

void BM_PcscdFirstListingOfTenKeys(benchmark::State& state) {
  Bench& bench = TheBench();
  double commands = 0;
  for (auto _ : state) {
    bench.module->C_Initialize(nullptr);
    commands += CommandsOfListing(state, bench);
    bench.module->C_Finalize(nullptr);
  }
  ReportCommands(state, commands);
}
BENCHMARK(BM_PcscdFirstListingOfTenKeys)->Unit(benchmark::kMillisecond);

void BM_PcscdLaterListing(benchmark::State& state) {
  Bench& bench = TheBench();
  bench.module->C_Initialize(nullptr);
  p11_bench::ListToken(bench.module.Functions());
  double commands = 0;
  for (auto _ : state) commands += CommandsOfListing(state, bench);
  bench.module->C_Finalize(nullptr);
  ReportCommands(state, commands);
}
BENCHMARK(BM_PcscdLaterListing)->Unit(benchmark::kMillisecond);

void BM_PcscdSignatureAfterLogin(benchmark::State& state) {
  Bench& bench = TheBench();
  CK_FUNCTION_LIST* f = bench.module.Functions();
  const CK_SESSION_HANDLE session = p11_bench::OpenLoggedInSession(f);
  if (session == 0) state.SkipWithError("login");
  double commands = 0;
  for (auto _ : state) {
    const std::size_t before = bench.card->CommandCount();
    if (!p11_bench::LoginAndSign(f, session)) {
      state.SkipWithError("signature");
      break;
    }
    commands += static_cast<double>(bench.card->CommandCount() - before);
  }
  f->C_Finalize(nullptr);
  ReportCommands(state, commands);
}
BENCHMARK(BM_PcscdSignatureAfterLogin)->Unit(benchmark::kMillisecond);

}  // namespace
