// How much opening the personal store costs: from the cache with sixteen
// readers of ten certificates each (no card command may be sent), the first
// population of a card with ten certificates (commands and time), and the
// watcher's processor time while nothing happens.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <string>
#include <thread>

#include "cardsim/fake_pcsc.h"
#include "orvel_test/benchmark_main.h"
#include "platform/wincrypt.h"
#include "populate_card_store.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "support/card_certificates.h"
#include "support/memory_store.h"

namespace {

using storeprov_test::CardWithCertificates;
using storeprov_test::KeyedCertificates;

using Store = storeprov_test::MemoryStore;

void SixteenReaders() {
  fakepcsc::Reset();
  InitializeReaderState();
  for (int i = 0; i < 16; ++i) {
    const std::string name = "Lector " + std::to_string(i);
    fakepcsc::AddReader(name);
    fakepcsc::InsertCard(name, CardWithCertificates(static_cast<std::uint8_t>(i),
                                                    KeyedCertificates(10, 100 + 10 * i)));
  }
}

void BM_OpenFromCacheSixteenReaders(benchmark::State& state) {
  SixteenReaders();
  {
    Store first;
    PopulateCardStore(first.Get());
  }
  fakepcsc::ClearTrace();
  for (auto _ : state) {
    Store store;
    benchmark::DoNotOptimize(PopulateCardStore(store.Get()));
  }
  state.counters["card_commands"] = static_cast<double>(fakepcsc::TransmitCount());
  if (fakepcsc::TransmitCount() != 0) state.SkipWithError("the cache sent card commands");
}
BENCHMARK(BM_OpenFromCacheSixteenReaders)->Unit(benchmark::kMillisecond);

void BM_FirstPopulationTenCertificates(benchmark::State& state) {
  const auto certificates = KeyedCertificates(10, 300);
  std::size_t commands = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fakepcsc::Reset();
    InitializeReaderState();
    fakepcsc::AddReader("Lector 0");
    fakepcsc::InsertCard("Lector 0", CardWithCertificates(0x01, certificates));
    Store store;
    fakepcsc::ClearTrace();
    state.ResumeTiming();
    PopulateCardStore(store.Get());
    state.PauseTiming();
    commands = fakepcsc::TransmitCount();
    ReleaseReaderCaches();
    state.ResumeTiming();
  }
  state.counters["card_commands"] = static_cast<double>(commands);
}
BENCHMARK(BM_FirstPopulationTenCertificates)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_IdleWatcherCpu(benchmark::State& state) {
  SixteenReaders();
  {
    Store first;
    PopulateCardStore(first.Get());
  }
  StartReaderWatcher();
  double cpu = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(6));
    cpu = ProcessCpuSeconds() - before;
  }
  StopReaderWatcher();
  state.counters["cpu_percent_idle"] = cpu / 6.0 * 100.0;
}
BENCHMARK(BM_IdleWatcherCpu)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) { return orvel_test::RunBenchmarksInUserDir(argc, argv); }
