// The card provider's certificate attach and a signature with the verified
// PIN, through the in-process fake resource manager: commands, bytes on the
// line and the time of the host's work.
#include <memory>

#include "card_key_bench.h"
#include "cardsim/fake_pcsc.h"

namespace {

using orvelcsp_bench::CLineCount;

// A fresh reader and card, not timed.
std::shared_ptr<cardsim::VirtualCard> InsertKeyCard() {
  fakepcsc::Reset();
  auto card = orvelcsp_bench::KeyCard();
  fakepcsc::AddReader("Lector");
  fakepcsc::InsertCard("Lector", card);
  return card;
}

void BM_CertificateAttachFakePcsc(benchmark::State& state) {
  std::unique_ptr<CLineCount> count;
  for (auto _ : state) {
    state.PauseTiming();
    count.reset();
    count = std::make_unique<CLineCount>(InsertKeyCard());
    state.ResumeTiming();
    if (!orvelcsp_bench::AttachCertificate()) return state.SkipWithError("not attached");
  }
  if (count) count->Report(state);
}
BENCHMARK(BM_CertificateAttachFakePcsc)->Unit(benchmark::kMicrosecond);

void BM_SignatureWithVerifiedPinFakePcsc(benchmark::State& state) {
  CLineCount count(InsertKeyCard());
  orvelcsp_bench::SignRounds(state, count);
}
BENCHMARK(BM_SignatureWithVerifiedPinFakePcsc)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return orvelcsp_bench::RunBenchmarks(argc, argv); }
