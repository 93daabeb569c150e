// The module's process-wide state across its last detach: the detach waits
// for no other process, and a population it overtakes releases what it
// holds itself.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include <sys/wait.h>
#include <thread>

#include "common/module_instance.h"
#include "named_mutex.h"
#include "platform/handle_guards.h"
#include "populate_card_store.h"
#include "population_fixture.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "storeprov/entry_points.h"

namespace storeprov_test {
namespace {

using namespace std::chrono_literals;

// Whether some connection uses the card in the reader.
bool CardInUse(const char* reader) {
  CResourceManagerContext context;
  if (context.Establish(SCARD_SCOPE_USER) != SCARD_S_SUCCESS) return false;
  SCARD_READERSTATEA state{};
  state.szReader = reader;
  SCardGetStatusChangeA(context.Get(), 0, &state, 1);
  return (state.dwEventState & SCARD_STATE_INUSE) != 0;
}

TEST_F(PopulationTest, LastDetachDoesNotWaitForAPopulationWaitingForAnotherProcess) {
  constexpr char kReader[] = "Lector 0";
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x41, KeyedCertificates(1)));
  ASSERT_TRUE(DllMain(ModuleInstance, DLL_PROCESS_ATTACH, nullptr));

  // A peer holds the reader's mutex, as another process reading the card.
  CNamedMutex peer(ReaderMutexName(kReader).c_str());
  ASSERT_NE(peer.Handle(), nullptr);
  ASSERT_TRUE(peer.Lock());
  BOOL populated = FALSE;
  std::size_t added = 99;
  std::thread population([&] {
    MemoryStore store;
    populated = PopulateCardStore(store.Get());
    added = store.Certificates().size();
  });
  // Connected: from here on the population waits for the peer.
  const auto limit = std::chrono::steady_clock::now() + 10s;
  while (!CardInUse(kReader) && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_TRUE(CardInUse(kReader));

  auto detach = std::async(std::launch::async,
                           [] { return DllMain(ModuleInstance, DLL_PROCESS_DETACH, nullptr); });
  // A hang guard, not a speed limit: the detach must not need the peer.
  const bool returnedWhilePeerHolds = detach.wait_for(10s) == std::future_status::ready;
  peer.Unlock();
  population.join();
  EXPECT_TRUE(returnedWhilePeerHolds) << "the last detach waited for another process";
  EXPECT_EQ(detach.get(), TRUE);
  // The population finished; what it read belonged to the detached life and
  // went with it.
  EXPECT_EQ(populated, TRUE);
  EXPECT_EQ(added, 0u);
  EXPECT_EQ(ReaderCache(0), nullptr);
  StopReaderWatcher();
}

// A program that ends without the last detach, its watcher running and
// signalling as it ends: it ends at once (the watcher's sleep is two
// seconds), and the signal reaches the registered event.
TEST(ModuleExit, ProgramEndingWithTheModuleAttachedEndsAtOnce) {
  FILE* program = ::popen(EXIT_WHILE_WATCHING_PATH " 2>&1", "r");
  ASSERT_NE(program, nullptr);
  std::string out;
  char line[256];
  std::chrono::steady_clock::time_point exiting{};
  while (std::fgets(line, sizeof line, program) != nullptr) {
    out += line;
    if (out.find("exiting") != std::string::npos && exiting == decltype(exiting){}) {
      exiting = std::chrono::steady_clock::now();
    }
  }
  const int status = ::pclose(program);
  const auto ended = std::chrono::steady_clock::now();
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 0) << out;
  ASSERT_NE(exiting, decltype(exiting){}) << out;
  EXPECT_LT(ended - exiting, 1500ms) << "the program waited for the watcher's sleep";
}

}  // namespace
}  // namespace storeprov_test
