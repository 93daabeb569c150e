// Noticing insertions through the real pcscd: two vpcd readers, the watcher
// thread polling them, the registered events and the store's control
// function.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "cardsim/pcscd_rig.h"
#include "change_events.h"
#include "common/module_instance.h"
#include "platform/handle_guards.h"
#include "platform/kernel_objects.h"
#include "platform/module_handle.h"
#include "platform/winscard_ext.h"
#include "platform_test/scoped_user_dir.h"
#include "populate_card_store.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "storeprov/entry_points.h"
#include "support/card_certificates.h"
#include "support/change_event.h"
#include "support/memory_store.h"

namespace storeprov_test {
namespace {

using namespace std::chrono_literals;

// The watcher's period plus pcscd's own poll of the vpcd readers, and some
// room for a loaded machine.
constexpr auto kSignalLimit = 2000ms + 400ms + 600ms;

class WatchingThroughPcscd : public ::testing::Test {
 protected:
  void SetUp() override {
    ModuleInstance = platform::ProgramModule();
    InitializeReaderState();
    TheChangeEventList().Clear();
    m_rig = std::make_unique<cardsim::PcscdRig>(std::vector<std::shared_ptr<cardsim::VirtualCard>>{
        CardWithCertificates(0x31, KeyedCertificates(2, 10)),
        CardWithCertificates(0x32, KeyedCertificates(3, 20))});
    m_rig->Start();
    m_rig->Remove(1);
  }
  void TearDown() override {
    StopReaderWatcher();
    TheChangeEventList().Clear();
    ReleaseReaderCaches();
  }

  // Lists the readers with a first population, lets the watcher take in
  // the present states, then starts it: only changes from now on count.
  void PopulateAndWatch(MemoryStore& store) {
    ASSERT_TRUE(PopulateCardStore(store.Get()));
    ASSERT_EQ(ReaderCount, 2u);
    CResourceManagerContext context;
    ASSERT_EQ(context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
    PollReadersOnce(context.Get());
    ReaderChanged[0] = ReaderChanged[1] = 0;
    ASSERT_TRUE(StartReaderWatcher());
  }

  platform_test::ScopedUserDir m_userDir;
  std::unique_ptr<cardsim::PcscdRig> m_rig;
};

TEST_F(WatchingThroughPcscd, InsertionSetsEveryEventOnceAndResyncAddsTheCard) {
  MemoryStore store;
  PopulateAndWatch(store);
  EXPECT_EQ(store.Certificates().size(), 2u);

  Event first, second;
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, first.Address()));
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, first.Address()));
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, second.Address()));
  EXPECT_EQ(TheChangeEventList().Events().size(), 2u);
  // Nothing happened yet: a whole period passes without a signal.
  EXPECT_FALSE(first.WaitSet(2500ms));

  m_rig->Insert(1);
  const auto delay = first.WaitSet(kSignalLimit);
  ASSERT_TRUE(delay) << "no signal within " << kSignalLimit.count() << " ms of the insertion";
  EXPECT_TRUE(second.IsSet());
  std::printf("insertion signalled %lld ms after pcscd reported it\n",
              static_cast<long long>(delay->count()));
  EXPECT_EQ(ReaderChanged[1], 1);
  EXPECT_EQ(ReaderChanged[0], 0);

  MemoryStore resynced;
  ASSERT_TRUE(CertStoreProvControl(resynced.Get(), 0, CERT_STORE_CTRL_RESYNC, first.Address()));
  EXPECT_EQ(resynced.Certificates().size(), 5u);
  EXPECT_FALSE(first.IsSet());  // registered again, and re-armed
  EXPECT_EQ(ReaderChanged[1], 0);
}

// ORVEL_VPCD_CYCLES sets the number of cycles (15 by default).
TEST_F(WatchingThroughPcscd, EveryInsertionOfManyCyclesIsSignalledWithinThePeriod) {
  const char* text = std::getenv("ORVEL_VPCD_CYCLES");
  const int cycles = text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 15;
  MemoryStore store;
  PopulateAndWatch(store);
  Event event;
  std::chrono::milliseconds longest{0}, total{0};
  for (int cycle = 0; cycle < cycles; ++cycle) {
    ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, event.Address()));
    m_rig->Insert(1);
    const auto delay = event.WaitSet(kSignalLimit);
    ASSERT_TRUE(delay) << "cycle " << cycle << ": no signal";
    longest = std::max(longest, *delay);
    total += *delay;
    m_rig->Remove(1);
  }
  std::printf("%d insertions signalled, longest %lld ms, mean %lld ms after pcscd saw them\n",
              cycles, static_cast<long long>(longest.count()),
              static_cast<long long>(total.count() / cycles));
  // Every insertion flagged the reader; the last is still to be read.
  EXPECT_EQ(ReaderChanged[1], 1);
}

TEST_F(WatchingThroughPcscd, RemovalAndACardHeldByAnotherProgramSignalNothing) {
  MemoryStore store;
  m_rig->Insert(1);
  PopulateAndWatch(store);
  Event event;
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, event.Address()));

  m_rig->Remove(0);
  // Another program takes the card that stays, for itself alone.
  CResourceManagerContext other;
  ASSERT_EQ(other.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
  SCARDHANDLE held = 0;
  DWORD protocol = 0;
  ASSERT_EQ(SCardConnectA(other.Get(), m_rig->ReaderName(1).c_str(), SCARD_SHARE_EXCLUSIVE,
                          SCARD_PROTOCOL_T0, &held, &protocol),
            SCARD_S_SUCCESS);
  EXPECT_FALSE(event.WaitSet(kSignalLimit));
  EXPECT_EQ(ReaderChanged[0], 0);
  EXPECT_EQ(ReaderChanged[1], 0);
  SCardDisconnect(held, SCARD_LEAVE_CARD);
}

TEST_F(WatchingThroughPcscd, ResyncWithTheResourceManagerStoppedFailsAndRegistersNothing) {
  MemoryStore store;
  ASSERT_TRUE(PopulateCardStore(store.Get()));
  m_rig->Stop();
  Event event;
  MemoryStore resynced;
  EXPECT_FALSE(CertStoreProvControl(resynced.Get(), 0, CERT_STORE_CTRL_RESYNC, event.Address()));
  EXPECT_TRUE(TheChangeEventList().Events().empty());
  EXPECT_TRUE(resynced.Certificates().empty());
  for (DWORD type :
       {CERT_STORE_CTRL_COMMIT, CERT_STORE_CTRL_AUTO_RESYNC, CERT_STORE_CTRL_CANCEL_NOTIFY}) {
    EXPECT_TRUE(CertStoreProvControl(resynced.Get(), 0, type, event.Address())) << type;
  }
}

}  // namespace
}  // namespace storeprov_test
