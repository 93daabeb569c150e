// The module over the fake resource manager and a card holding 10 keys with
// their certificates: card commands and bytes of a first listing, of a later
// listing in the same process, and of a signature after login.
#include <benchmark/benchmark.h>

#include "cardsim/fake_pcsc.h"
#include "listing.h"
#include "platform/card_database.h"
#include "token_card.h"

namespace {

using p11_test::Bytes;

struct Traffic {
  double commands = 0;
  double bytes = 0;
};

// The commands and bytes traced since the last call, added to total.
void TakeTraffic(Traffic& total) {
  for (const auto& entry : fakepcsc::Trace()) {
    ++total.commands;
    total.bytes += static_cast<double>(entry.command.size() + entry.answer.size());
  }
  fakepcsc::ClearTrace();
}

void Report(benchmark::State& state, const Traffic& total) {
  const double n = static_cast<double>(state.iterations());
  state.counters["commands"] = total.commands / n;
  state.counters["bytes"] = total.bytes / n;
  state.counters["link_ms"] = p11_bench::LinkMilliseconds(total.bytes / n);
}

class Bench {
 public:
  Bench() {
    fakepcsc::Reset();
    const Bytes atr = cardsim::VirtualCard::Atr();
    platform::RegisterCardType({"DRAV-NOR", atr, Bytes(atr.size(), 0xFF)});
    fakepcsc::AddReader("Lector Orvel");
    fakepcsc::InsertCard("Lector Orvel",
                         p11_test::MakeTokenCard(p11_test::KeysInBothRoles(10)).card);
  }
  ~Bench() { fakepcsc::Reset(); }
  platform_test::ScopedUserDir userDir;
  p11_test::Module module;
};

// One listing, its traffic added to total; the benchmark fails when the
// listing does.
void ListAndTakeTraffic(benchmark::State& state, Bench& bench, Traffic& total) {
  if (p11_bench::ListToken(bench.module.Functions()) != 20) state.SkipWithError("listing");
  TakeTraffic(total);
}

void BM_FirstListingOfTenKeys(benchmark::State& state) {
  Bench bench;
  Traffic total;
  for (auto _ : state) {
    bench.module->C_Initialize(nullptr);
    fakepcsc::ClearTrace();
    ListAndTakeTraffic(state, bench, total);
    bench.module->C_Finalize(nullptr);
  }
  Report(state, total);
}
BENCHMARK(BM_FirstListingOfTenKeys)->Unit(benchmark::kMillisecond);

void BM_LaterListing(benchmark::State& state) {
  Bench bench;
  bench.module->C_Initialize(nullptr);
  p11_bench::ListToken(bench.module.Functions());
  fakepcsc::ClearTrace();
  Traffic total;
  for (auto _ : state) ListAndTakeTraffic(state, bench, total);
  bench.module->C_Finalize(nullptr);
  Report(state, total);
}
BENCHMARK(BM_LaterListing)->Unit(benchmark::kMicrosecond);

void BM_SignatureAfterLogin(benchmark::State& state) {
  Bench bench;
  CK_FUNCTION_LIST* f = bench.module.Functions();
  const CK_SESSION_HANDLE session = p11_bench::OpenLoggedInSession(f);
  if (session == 0) state.SkipWithError("login");
  fakepcsc::ClearTrace();
  Traffic total;
  for (auto _ : state) {
    if (!p11_bench::LoginAndSign(f, session)) {
      state.SkipWithError("signature");
      break;
    }
    TakeTraffic(total);
  }
  f->C_Finalize(nullptr);
  Report(state, total);
}
BENCHMARK(BM_SignatureAfterLogin)->Unit(benchmark::kMicrosecond);

}  // namespace
