// The card provider's certificate attach and a signature with the verified
// PIN, through the real pcscd with the virtual card in a vpcd reader (needs
// root: it starts a private pcscd).
#include <chrono>
#include <memory>
#include <stdexcept>

#include "card_key_bench.h"
#include "cardsim/pcscd_rig.h"

namespace {

using orvelcsp_bench::CLineCount;

void BM_CertificateAttachThroughPcscd(benchmark::State& state) {
  std::unique_ptr<CLineCount> count;
  for (auto _ : state) {
    // A fresh card in a fresh daemon for every round (not timed).
    auto card = orvelcsp_bench::KeyCard();
    count.reset();
    count = std::make_unique<CLineCount>(card);
    std::unique_ptr<cardsim::PcscdRig> rig;
    try {
      rig = std::make_unique<cardsim::PcscdRig>(std::vector{card});
      rig->Start();
    } catch (const std::exception& e) {
      return state.SkipWithError(e.what());
    }
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
  cardsim::PcscdRig rig({card});
  try {
    rig.Start();
  } catch (const std::exception& e) {
    return state.SkipWithError(e.what());
  }
  orvelcsp_bench::CSigningContext context;
  if (!context.Ready()) return state.SkipWithError("no context with the PIN");
  for (auto _ : state) {
    count.Restart();
    if (!context.Sign()) return state.SkipWithError("not signed");
  }
  count.Report(state);
}
BENCHMARK(BM_SignatureWithVerifiedPinThroughPcscd)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return orvelcsp_bench::RunBenchmarks(argc, argv); }
