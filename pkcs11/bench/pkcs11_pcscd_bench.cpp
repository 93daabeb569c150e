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

void BM_PcscdFirstListingOfTenKeys(benchmark::State& state) {
  Bench& bench = TheBench();
  double commands = 0;
  for (auto _ : state) {
    bench.module->C_Initialize(nullptr);
    const std::size_t before = bench.card->CommandCount();
    if (p11_bench::ListToken(bench.module.Functions()) != 20) state.SkipWithError("listing");
    commands += static_cast<double>(bench.card->CommandCount() - before);
    bench.module->C_Finalize(nullptr);
  }
  state.counters["commands"] = commands / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PcscdFirstListingOfTenKeys)->Unit(benchmark::kMillisecond);

void BM_PcscdLaterListing(benchmark::State& state) {
  Bench& bench = TheBench();
  bench.module->C_Initialize(nullptr);
  p11_bench::ListToken(bench.module.Functions());
  double commands = 0;
  for (auto _ : state) {
    const std::size_t before = bench.card->CommandCount();
    if (p11_bench::ListToken(bench.module.Functions()) != 20) state.SkipWithError("listing");
    commands += static_cast<double>(bench.card->CommandCount() - before);
  }
  bench.module->C_Finalize(nullptr);
  state.counters["commands"] = commands / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PcscdLaterListing)->Unit(benchmark::kMillisecond);

void BM_PcscdSignatureAfterLogin(benchmark::State& state) {
  Bench& bench = TheBench();
  CK_FUNCTION_LIST* f = bench.module.Functions();
  f->C_Initialize(nullptr);
  CK_SLOT_ID slot = 0;
  CK_ULONG count = 1;
  f->C_GetSlotList(CK_TRUE, &slot, &count);
  CK_SESSION_HANDLE session = 0;
  f->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
  CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
  if (f->C_Login(session, CKU_USER, pin, sizeof(pin)) != CKR_OK) state.SkipWithError("login");
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
  state.counters["commands"] = commands / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PcscdSignatureAfterLogin)->Unit(benchmark::kMillisecond);

}  // namespace
