// Many insertions and removals while populations run in other threads:
// every insertion is signalled once and no removal is, every store holds
// only whole certificates of cards that were in the readers, none twice,
// and the last cards inserted are the ones listed at the end.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "change_events.h"
#include "platform/handle_guards.h"
#include "platform/kernel_objects.h"
#include "populate_card_store.h"
#include "population_fixture.h"
#include "reader_state.h"
#include "reader_watcher.h"

namespace storeprov_test {
namespace {

constexpr int kReaders = 2;
constexpr int kCardsPerReader = 4;

// ORVEL_STRESS_STEPS overrides the number of steps (10^4 by default).
int Steps() {
  const char* text = std::getenv("ORVEL_STRESS_STEPS");
  const int steps = text != nullptr ? std::atoi(text) : 0;
  return steps > 0 ? steps : 10000;
}

TEST_F(PopulationTest, InsertionsAndRemovalsWhilePopulationsRun) {
  const std::string names[kReaders] = {"Lector 0", "Lector 1"};
  std::vector<std::shared_ptr<cardsim::VirtualCard>> cards[kReaders];
  std::map<std::shared_ptr<cardsim::VirtualCard>, std::vector<Bytes>> certificatesOf;
  std::set<Bytes> known;
  for (int r = 0; r < kReaders; ++r) {
    fakepcsc::AddReader(names[r]);
    for (int c = 0; c < kCardsPerReader; ++c) {
      const int n = r * kCardsPerReader + c;
      // Two certificates a card: a torn read would show one of them.
      const auto certificates = KeyedCertificates(2, 60 + 2 * n);
      cards[r].push_back(CardWithCertificates(static_cast<std::uint8_t>(0x70 + n), certificates));
      for (const auto& certificate : certificates) {
        known.insert(certificate.der);
        certificatesOf[cards[r].back()].push_back(certificate.der);
      }
    }
  }
  CResourceManagerContext context;
  ASSERT_EQ(context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
  Populate();
  ASSERT_EQ(ReaderCount, 2u);
  PollReadersOnce(context.Get());
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  RegisterChangeEvent(event);

  std::atomic<bool> done{false};
  std::atomic<int> populations{0}, failed{0}, unknown{0}, twice{0}, withoutKey{0};
  auto populate = [&] {
    while (!done.load()) {
      MemoryStore store;
      if (!PopulateCardStore(store.Get())) ++failed;
      std::set<Bytes> seen;
      for (const auto& certificate : store.Certificates()) {
        if (!known.count(certificate.der)) ++unknown;
        if (!seen.insert(certificate.der).second) ++twice;
        if (!certificate.hasKeyInfo) ++withoutKey;
      }
      ++populations;
    }
  };
  std::thread first(populate), second(populate);

  const int steps = Steps();
  int missed = 0, spurious = 0, insertions = 0;
  bool present[kReaders] = {false, false};
  int next[kReaders] = {0, 0};
  for (int step = 0; step < steps; ++step) {
    const int r = step % kReaders;
    const bool inserting = !present[r];
    if (inserting) {
      fakepcsc::InsertCard(names[r], cards[r][next[r]++ % kCardsPerReader]);
      ++insertions;
    } else {
      fakepcsc::RemoveCard(names[r]);
    }
    present[r] = inserting;
    ASSERT_EQ(PollReadersOnce(context.Get()), SCARD_S_SUCCESS);
    const bool signalled = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
    ResetEvent(event);
    if (inserting && !signalled) ++missed;
    if (!inserting && signalled) ++spurious;
    // Nothing changed since: a second poll signals nothing.
    PollReadersOnce(context.Get());
    if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) ++spurious;
  }
  // The last cards inserted, one in each reader.
  for (int r = 0; r < kReaders; ++r) {
    if (present[r]) {
      fakepcsc::RemoveCard(names[r]);
      PollReadersOnce(context.Get());
    }
    fakepcsc::InsertCard(names[r], cards[r][next[r]++ % kCardsPerReader]);
    PollReadersOnce(context.Get());
  }
  done = true;
  first.join();
  second.join();

  EXPECT_EQ(missed, 0);
  EXPECT_EQ(spurious, 0);
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(unknown.load(), 0);
  EXPECT_EQ(twice.load(), 0);
  EXPECT_EQ(withoutKey.load(), 0);
  std::printf("%d steps, %d insertions, %d populations alongside\n", steps, insertions,
              populations.load());
  EXPECT_GT(populations.load(), 0);

  std::set<Bytes> listed;
  for (const auto& certificate : Populate()) listed.insert(certificate.der);
  std::set<Bytes> expected;
  for (const std::string& name : names) {
    for (const Bytes& der : certificatesOf[fakepcsc::CardIn(name)]) expected.insert(der);
  }
  EXPECT_EQ(listed, expected);
  TheChangeEventList().Clear();
  CloseHandle(event);
}

}  // namespace
}  // namespace storeprov_test
