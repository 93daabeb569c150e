// One SELECT round trip (SELECT "Master.File", answered 61xx, then GET
// RESPONSE) through the real pcsc-lite, pcscd, the vpcd driver and the
// virtual card, with the private-pcscd rig.
#include <benchmark/benchmark.h>

#include <memory>

#include "cardsim/pcsc_session.h"
#include "cardsim/pcscd_rig.h"

namespace {

using cardsim::Bytes;

const Bytes kSelectMasterFile = {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's',
                                 't',  'e',  'r',  '.',  'F',  'i', 'l', 'e'};

// One daemon and one connection for every run of the process.
struct Bench {
  Bench()
      : rig({cardsim::VirtualCard::MakeFresh(cardsim::CardSpec{})}),
        context((rig.Start(), std::make_unique<cardsim::PcscContext>())),
        card(std::make_unique<cardsim::PcscCard>(*context, rig.ReaderName(0))) {}
  cardsim::PcscdRig rig;
  std::unique_ptr<cardsim::PcscContext> context;
  std::unique_ptr<cardsim::PcscCard> card;
};

Bench& Shared() {
  static Bench bench;
  return bench;
}

void BM_PcscdSelectRoundTrip(benchmark::State& state) {
  const cardsim::PcscCard& card = *Shared().card;
  for (auto _ : state) {
    const Bytes select = card.Transmit(kSelectMasterFile);
    if (select.size() != 2 || select[0] != 0x61) {
      state.SkipWithError("SELECT not answered 61xx");
      break;
    }
    const Bytes fci = card.Transmit({0x00, 0xC0, 0x00, 0x00, select[1]});
    if (cardsim::StatusWord(fci) != 0x9000) {
      state.SkipWithError("GET RESPONSE not answered 9000");
      break;
    }
    benchmark::DoNotOptimize(fci.data());
  }
}
BENCHMARK(BM_PcscdSelectRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_PcscdSingleCommand(benchmark::State& state) {
  const cardsim::PcscCard& card = *Shared().card;
  for (auto _ : state) {
    const Bytes chip = card.Transmit({0x90, 0xB8, 0x00, 0x00, 0x12});
    if (chip.size() != 20) {
      state.SkipWithError("GET CHIP INFO not answered with 18 bytes");
      break;
    }
    benchmark::DoNotOptimize(chip.data());
  }
}
BENCHMARK(BM_PcscdSingleCommand)->Unit(benchmark::kMicrosecond);

}  // namespace
