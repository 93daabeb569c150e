// One certificate's card work (PIN given to summary shown) against a virtual
// card behind the in-process fake resource manager, and the program's
// start-up to its first page.
#include <benchmark/benchmark.h>

#include <charconv>

#include "bench_import_ui.h"
#include "bench_setup.h"
#include "cardsim/fake_pcsc.h"
#include "orvel_test/fake_readers.h"
#include "wizard_launch.h"

namespace {

void BM_CardWorkThroughFakePcsc(benchmark::State& state) {
  if (!wizard_bench::PrepareUserState()) return state.SkipWithError("no user state");
  std::size_t commands = 0;
  for (auto _ : state) {
    fakepcsc::Reset();
    cardsim::CardSpec spec;
    spec.serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    orvel_test::AddReaderWithCard("Lector 0", spec);
    CBenchImportUi ui(wizard_bench::kPin, [] { return fakepcsc::TransmitCount(); });
    if (!wizard_bench::ImportSample(ui)) return state.SkipWithError("the import did not complete");
    state.SetIterationTime(ui.Seconds());
    commands = ui.Commands();
  }
  state.counters["commands"] = static_cast<double>(commands);
}
BENCHMARK(BM_CardWorkThroughFakePcsc)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// From starting the program to its first page on screen (offscreen).
void BM_StartupToFirstPage(benchmark::State& state) {
  const auto bin = wizard_launch::ProgramDirectory();
  wizard_launch::WizardRun run;
  run.program = bin / "OrvelImportCertificate";
  run.autopilot = bin / "liborvel_wizard_autopilot.so";
  run.file.assign(1, '-');  // "-": no file chosen
  run.cancelAtFirstPage = true;
  run.log = std::filesystem::temp_directory_path() / "orvel-bench-startup.log";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  for (auto _ : state) {
    std::filesystem::remove(run.log);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const wizard_launch::WizardExit exit = wizard_launch::RunWizard(run);
    const auto log = wizard_launch::ReadLog(run.log);
    long long shownAt = 0;
    const std::string prefix = "first page at ";
    if (!exit.exited || log.empty() || log.front().rfind(prefix, 0) != 0 ||
        std::from_chars(log.front().data() + prefix.size(), log.front().data() + log.front().size(),
                        shownAt)
                .ec != std::errc()) {
      return state.SkipWithError("the program did not show its first page");
    }
    state.SetIterationTime(
        static_cast<double>(shownAt - (start.tv_sec * 1000000000LL + start.tv_nsec)) / 1e9);
  }
  std::filesystem::remove(run.log);
}
BENCHMARK(BM_StartupToFirstPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
