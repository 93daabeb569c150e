// The card provider's certificate attach and a signature with the verified
// PIN, through the real pcscd with the virtual card in a vpcd reader (needs
// root: it starts a private pcscd).
#include <chrono>
#include <memory>

#include "card_key_bench.h"
#include "orvel_test/benchmark_rig.h"

namespace {

using orvelcsp_bench::CLineCount;

void BM_CertificateAttachThroughPcscd(benchmark::State& state) {
  std::unique_ptr<CLineCount> count;
  for (auto _ : state) {
    // A fresh card in a fresh daemon for every round (not timed).
    auto card = orvelcsp_bench::KeyCard();
    count.reset();
    count = std::make_unique<CLineCount>(card);
    const auto rig = orvel_test::StartRig(state, card);
    if (!rig) return;
    count->Restart();
    const auto start = std::chrono::steady_clock::now();
    if (!orvelcsp_bench::AttachCertificate()) return state.SkipWithError("not attached");
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  if (count) count->Report(state);
}
BENCHMARK(BM_CertificateAttachThroughPcscd)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_SignatureWithVerifiedPinThroughPcscd(benchmark::State& state) {
  auto card = orvelcsp_bench::KeyCard();
  CLineCount count(card);
  const auto rig = orvel_test::StartRig(state, card);
  if (rig) orvelcsp_bench::SignRounds(state, count);
}
BENCHMARK(BM_SignatureWithVerifiedPinThroughPcscd)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return orvelcsp_bench::RunBenchmarks(argc, argv); }
