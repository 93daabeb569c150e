// Noticing insertions, signalling the registered events and the store's
// control function, against the fake resource manager.
#include <gtest/gtest.h>

#include "change_events.h"
#include "platform/handle_guards.h"
#include "platform/kernel_objects.h"
#include "population_fixture.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "storeprov/entry_points.h"
#include "support/change_event.h"

namespace storeprov_test {
namespace {

class ChangeWatching : public PopulationTest {
 protected:
  void SetUp() override {
    PopulationTest::SetUp();
    TheChangeEventList().Clear();
    ASSERT_EQ(m_context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
  }
  void TearDown() override {
    m_context.Release();
    TheChangeEventList().Clear();
    PopulationTest::TearDown();
  }

  // Two readers listed and polled once, so that only changes from now on
  // count.
  void ListTwoReaders(bool cardsInside) {
    for (const char* name : {"Lector 0", "Lector 1"}) {
      fakepcsc::AddReader(name);
      if (cardsInside) fakepcsc::InsertCard(name, CardWithCertificates(0x01, {}));
    }
    Populate();
    ASSERT_EQ(ReaderCount, 2u);
    Poll();
    ReaderChanged[0] = ReaderChanged[1] = 0;
  }
  // One poll of the readers, as the watcher makes it.
  LONG Poll() { return PollReadersOnce(m_context.Get()); }

  CResourceManagerContext m_context;
};

TEST_F(ChangeWatching, InsertionFlagsTheReaderAndSetsEveryEventOnce) {
  ListTwoReaders(false);
  Event first, second;
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, first.Address()));
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, first.Address()));
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, second.Address()));
  EXPECT_EQ(TheChangeEventList().Events().size(), 2u);
  EXPECT_FALSE(first.IsSet());

  fakepcsc::InsertCard("Lector 1", CardWithCertificates(0x02, KeyedCertificates(1)));
  ASSERT_EQ(Poll(), SCARD_S_SUCCESS);
  EXPECT_EQ(ReaderChanged[0], 0);
  EXPECT_EQ(ReaderChanged[1], 1);
  EXPECT_TRUE(first.IsSet());
  EXPECT_TRUE(second.IsSet());
  EXPECT_EQ(ReaderStateTable[1].dwCurrentState, ReaderStateTable[1].dwEventState);

  // Registering again re-arms the event.
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, first.Address()));
  EXPECT_FALSE(first.IsSet());
  // Nothing changed since: nothing is signalled.
  Poll();
  EXPECT_FALSE(first.IsSet());
}

TEST_F(ChangeWatching, RemovalAndACardHeldByAnotherProgramAreNotInsertions) {
  ListTwoReaders(true);
  Event event;
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, event.Address()));
  fakepcsc::RemoveCard("Lector 0");
  Poll();
  EXPECT_FALSE(event.IsSet());
  EXPECT_EQ(ReaderChanged[0], 0);

  fakepcsc::SetHeldByOtherProgram("Lector 1", true);
  fakepcsc::RemoveCard("Lector 1");
  Poll();
  fakepcsc::InsertCard("Lector 1", CardWithCertificates(0x03, {}));
  Poll();
  EXPECT_FALSE(event.IsSet());
  EXPECT_EQ(ReaderChanged[1], 0);
}

TEST_F(ChangeWatching, SharedUseNeitherHidesNorFakesAnInsertion) {
  ListTwoReaders(true);
  Event event;
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, event.Address()));
  auto connect = [this](const char* reader) {
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    EXPECT_EQ(SCardConnectA(m_context.Get(), reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card,
                            &protocol),
              SCARD_S_SUCCESS);
    return card;
  };
  // A program takes the card in shared use and lets it go: the same card.
  SCARDHANDLE card = connect("Lector 0");
  Poll();
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  Poll();
  EXPECT_FALSE(event.IsSet());
  EXPECT_EQ(ReaderChanged[0], 0);

  // A card put in and at once used by a program is still an insertion.
  fakepcsc::RemoveCard("Lector 0");
  Poll();
  fakepcsc::InsertCard("Lector 0", CardWithCertificates(0x06, {}));
  card = connect("Lector 0");
  Poll();
  EXPECT_TRUE(event.IsSet());
  EXPECT_EQ(ReaderChanged[0], 1);
  SCardDisconnect(card, SCARD_LEAVE_CARD);

  // A card exchanged for another between two polls is an insertion.
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, event.Address()));
  Poll();
  fakepcsc::RemoveCard("Lector 1");
  fakepcsc::InsertCard("Lector 1", CardWithCertificates(0x07, {}));
  Poll();
  EXPECT_TRUE(event.IsSet());
  EXPECT_EQ(ReaderChanged[1], 1);
}

TEST_F(ChangeWatching, ResyncRefillsTheStoreAndRegistersItsEvent) {
  ListTwoReaders(false);
  fakepcsc::InsertCard("Lector 0", CardWithCertificates(0x04, KeyedCertificates(2)));
  Poll();
  MemoryStore store;
  Event event;
  ASSERT_TRUE(CertStoreProvControl(store.Get(), 0, CERT_STORE_CTRL_RESYNC, event.Address()));
  EXPECT_EQ(store.Certificates().size(), 2u);
  EXPECT_EQ(TheChangeEventList().Events(), std::vector<HANDLE>{event.Get()});
}

TEST_F(ChangeWatching, ResyncWithoutResourceManagerFailsAndRegistersNothing) {
  MemoryStore store;
  Event event;
  fakepcsc::FailEstablishContext(true, true);
  EXPECT_FALSE(CertStoreProvControl(store.Get(), 0, CERT_STORE_CTRL_RESYNC, event.Address()));
  EXPECT_TRUE(TheChangeEventList().Events().empty());
}

TEST_F(ChangeWatching, NullParameterIsRefusedAndOtherControlsAccepted) {
  MemoryStore store;
  EXPECT_FALSE(CertStoreProvControl(store.Get(), 0, CERT_STORE_CTRL_RESYNC, nullptr));
  EXPECT_FALSE(CertStoreProvControl(store.Get(), 0, CERT_STORE_CTRL_NOTIFY_CHANGE, nullptr));
  Event event;
  for (DWORD type :
       {CERT_STORE_CTRL_COMMIT, CERT_STORE_CTRL_AUTO_RESYNC, CERT_STORE_CTRL_CANCEL_NOTIFY, 77UL}) {
    EXPECT_TRUE(CertStoreProvControl(store.Get(), 0, type, event.Address())) << type;
  }
  EXPECT_TRUE(TheChangeEventList().Events().empty());
}

TEST_F(ChangeWatching, WatcherThreadSignalsWithinTwoSecondsAndStopsAtOnce) {
  ListTwoReaders(false);
  Event event;
  ASSERT_TRUE(CertStoreProvControl(nullptr, 0, CERT_STORE_CTRL_NOTIFY_CHANGE, event.Address()));
  ASSERT_TRUE(StartReaderWatcher());
  fakepcsc::InsertCard("Lector 0", CardWithCertificates(0x05, {}));
  EXPECT_EQ(WaitForSingleObject(event.Get(), 3000), WAIT_OBJECT_0);
  const auto start = std::chrono::steady_clock::now();
  StopReaderWatcher();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(ReaderWatcherRunning());
  EXPECT_EQ(WatcherStop.load(), 1);
}

}  // namespace
}  // namespace storeprov_test
