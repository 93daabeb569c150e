// A private pcscd for a benchmark: one card in its first reader, started,
// or the benchmark marked as failed with the reason the daemon gave.
#pragma once

#include <benchmark/benchmark.h>

#include <exception>
#include <memory>
#include <vector>

#include "cardsim/pcscd_rig.h"

namespace orvel_test {

// The running rig; null when it did not start (state then carries the error).
inline std::unique_ptr<cardsim::PcscdRig> StartRig(benchmark::State& state,
                                                   std::shared_ptr<cardsim::VirtualCard> card) {
  try {
    auto rig = std::make_unique<cardsim::PcscdRig>(std::vector{std::move(card)});
    rig->Start();
    return rig;
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return nullptr;
  }
}

}  // namespace orvel_test
