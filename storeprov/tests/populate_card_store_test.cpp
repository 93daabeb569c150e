// Filling a store from the cards of the readers, and the per-reader cache,
// against the fake resource manager.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "named_mutex.h"
#include "platform/handle_guards.h"
#include "platform/kernel_objects.h"  // first: it defines INFINITE before PC/SC
#include "platform/winuser.h"
#include "populate_card_store.h"
#include "population_fixture.h"
#include "reader_state.h"
#include "reader_watcher.h"
#include "storeprov/card_cert_cache.h"

namespace storeprov_test {
namespace {

const std::string kReader = "Lector 0";

TEST_F(PopulationTest, FirstOpenAddsEveryCertificateWithTheCardsKeyContainer) {
  const auto certificates = KeyedCertificates(2);
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x01, certificates));

  const auto stored = Populate();
  ASSERT_EQ(stored.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(stored[i].der, certificates[i].der);
    ASSERT_TRUE(stored[i].hasKeyInfo);
    EXPECT_EQ(stored[i].provider, u"OrvelCSP");
    EXPECT_EQ(stored[i].provType, 1u);
    EXPECT_EQ(stored[i].keySpec, 3u);
    char reference[3];
    std::snprintf(reference, sizeof reference, "%02X", 32 + static_cast<int>(i));
    EXPECT_EQ(stored[i].container, Wide(SerialText(0x01) + "6400" + reference + "\\3F11\\3F77\\"));
  }
}

TEST_F(PopulationTest, SecondOpenUsesTheCacheWithoutTouchingTheCard) {
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x01, KeyedCertificates(2)));
  Populate();
  StartCounting();

  EXPECT_EQ(Populate().size(), 2u);
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(PopulationTest, RemovedCardStillListedAndSameCardReinsertedNotReadAgain) {
  const auto card = CardWithCertificates(0x01, KeyedCertificates(1));
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, card);
  Populate();

  fakepcsc::RemoveCard(kReader);
  EXPECT_EQ(Populate().size(), 1u);

  // The watcher sees the insertion and flags the reader.
  fakepcsc::InsertCard(kReader, card);
  CResourceManagerContext context;
  ASSERT_EQ(context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
  ReaderStateTable[0].dwCurrentState = SCARD_STATE_EMPTY;
  ASSERT_EQ(PollReadersOnce(context.Get()), SCARD_S_SUCCESS);
  EXPECT_EQ(ReaderChanged[0], 1);
  StartCounting();
  EXPECT_EQ(Populate().size(), 1u);
  EXPECT_GT(fakepcsc::TransmitCount(), 0u);  // connected, chip information asked
  EXPECT_EQ(CertificateDirectoryReads(), 0u);
  EXPECT_EQ(ReaderChanged[0], 0);
}

TEST_F(PopulationTest, ReadCutShortByARemovalIsReadAgainWhenTheSameCardIsBack) {
  const auto certificates = KeyedCertificates(3, 40);
  const auto card = CardWithCertificates(0x05, certificates);
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, card);
  StartCounting();
  ASSERT_EQ(Populate().size(), 3u);
  // The command that reads the last certificate file's 8-byte header.
  const Bytes readFileHeader = {0x00, 0xB0, 0x00, 0x00, 0x08};
  const auto trace = fakepcsc::Trace();
  std::size_t lastHeader = 0;
  for (std::size_t n = 0; n < trace.size(); ++n) {
    if (trace[n].command == readFileHeader) lastHeader = n + 1;
  }
  ASSERT_GT(lastHeader, 0u);
  ReleaseReaderCaches();
  InitializeReaderState();

  // Pulled out while its last certificate is being read, then put back.
  fakepcsc::ClearFaults();
  fakepcsc::RemoveCardAt(lastHeader);
  EXPECT_EQ(Populate().size(), 2u);
  EXPECT_EQ(ReaderChanged[0], 1);  // still to be examined
  fakepcsc::InsertCard(kReader, card);
  EXPECT_EQ(Populate().size(), 3u);
  EXPECT_EQ(ReaderChanged[0], 0);
  // Complete now: the next opening uses the cache.
  StartCounting();
  EXPECT_EQ(Populate().size(), 3u);
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(PopulationTest, AnotherCardIsReadAndEarlierStoresKeepTheOldCertificates) {
  const auto oldCertificates = KeyedCertificates(2, 0);
  const auto newCertificates = KeyedCertificates(1, 5);
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x01, oldCertificates));
  MemoryStore earlier;
  ASSERT_TRUE(PopulateCardStore(earlier.Get()));

  fakepcsc::InsertCard(kReader, CardWithCertificates(0x02, newCertificates));
  ReaderChanged[0] = 1;  // as the watcher does on the insertion
  const auto stored = Populate();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].der, newCertificates[0].der);
  EXPECT_EQ(stored[0].container, Wide(SerialText(0x02) + "640020\\3F11\\3F77\\"));
  EXPECT_EQ(earlier.Certificates().size(), 2u);

  // A resync of the earlier store adds the new card's certificate and keeps
  // the old ones.
  ASSERT_TRUE(PopulateCardStore(earlier.Get()));
  EXPECT_EQ(earlier.Certificates().size(), 3u);
}

TEST_F(PopulationTest, CardWithoutCertificatesIsReadAtEveryPopulation) {
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x03, {}));
  for (int i = 0; i < 3; ++i) {
    StartCounting();
    EXPECT_EQ(Populate().size(), 0u);
    EXPECT_EQ(CertificateDirectoryReads(), 1u) << "population " << i;
  }
}

TEST_F(PopulationTest, KeySpecificationFollowsTheKeyRolesAndNoContainerNoInformation) {
  fakepcsc::AddReader(kReader);
  const std::vector<CardCertificate> certificates = {{TestCertificate(20), 32, 0x6400},
                                                     {TestCertificate(21), 33, 0x2000},
                                                     {TestCertificate(22), 34, 0x4400},
                                                     {TestCertificate(23), 35, 0x0000},
                                                     {TestCertificate(24), std::nullopt, 0}};
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x04, certificates));
  const auto stored = Populate();
  ASSERT_EQ(stored.size(), 5u);
  EXPECT_EQ(stored[0].keySpec, 3u);
  EXPECT_EQ(stored[1].keySpec, 2u);
  EXPECT_EQ(stored[2].keySpec, 1u);
  ASSERT_TRUE(stored[3].hasKeyInfo);
  EXPECT_EQ(stored[3].keySpec, 0u);
  EXPECT_EQ(stored[3].container, Wide(SerialText(0x04) + "000023\\3F11\\3F77\\"));
  EXPECT_FALSE(stored[4].hasKeyInfo);
  EXPECT_EQ(stored[4].der, certificates[4].der);
}

TEST_F(PopulationTest, UnreadableCertificateFileIsLeftOutNotRepeated) {
  fakepcsc::AddReader(kReader);
  auto card = CardWithCertificates(0x05, KeyedCertificates(2));
  // The second certificate's file disappears; its record stays.
  ASSERT_TRUE(card->CreateFile({0x3F11}, 0x0999, 1));
  std::vector<std::uint8_t> cdf = *card->ReadFile({0x5015, 0x6004});
  for (std::size_t i = 0; i + 4 < cdf.size(); ++i) {
    if (cdf[i] == '0' && cdf[i + 1] == '1' && cdf[i + 2] == '0' && cdf[i + 3] == '2')
      cdf[i + 3] = '9';
  }
  ASSERT_TRUE(card->WriteFile({0x5015, 0x6004}, cdf));
  fakepcsc::InsertCard(kReader, card);
  const auto stored = Populate();
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].container, Wide(SerialText(0x05) + "640020\\3F11\\3F77\\"));
  const CCardCertCache* cache = ReaderCache(0);
  ASSERT_NE(cache, nullptr);
  ASSERT_NE(cache->Entries(), nullptr);
  EXPECT_EQ(cache->Entries()->next, nullptr);
}

TEST_F(PopulationTest, SeventeenReadersSixteenUsed) {
  for (int i = 0; i < 17; ++i) {
    const std::string name = "Lector " + std::to_string(i);
    fakepcsc::AddReader(name);
    fakepcsc::InsertCard(name, CardWithCertificates(static_cast<std::uint8_t>(i),
                                                    {{TestCertificate(40 + i), 32, 0x6400}}));
  }
  const auto stored = Populate();
  EXPECT_EQ(ReaderCount, 16u);
  EXPECT_STREQ(ReaderStateTable[15].szReader, "Lector 15");
  ASSERT_EQ(stored.size(), 16u);
  for (const auto& c : stored) EXPECT_NE(c.der, TestCertificate(56));
}

TEST_F(PopulationTest, NoContextIsFailureAndNoReadersAnEmptySuccess) {
  MemoryStore store;
  ASSERT_EQ(PopulateCardStore(store.Get()), TRUE);
  EXPECT_EQ(ReaderCount, 0u);
  fakepcsc::FailEstablishContext(true, true);
  EXPECT_EQ(PopulateCardStore(store.Get()), FALSE);
}

TEST_F(PopulationTest, FailedListingIsTriedAgainNextTime) {
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x06, KeyedCertificates(1)));
  fakepcsc::FailListReaders(SCARD_E_NO_SERVICE);
  MemoryStore store;
  ASSERT_TRUE(PopulateCardStore(store.Get()));
  EXPECT_EQ(store.Certificates().size(), 0u);
  fakepcsc::FailListReaders(0);
  ASSERT_TRUE(PopulateCardStore(store.Get()));
  EXPECT_EQ(store.Certificates().size(), 1u);
}

TEST_F(PopulationTest, CardHeldByAnotherProgramKeepsItsFlagAndCache) {
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x07, KeyedCertificates(1)));
  fakepcsc::SetHeldByOtherProgram(kReader, true);
  MemoryStore store;
  ASSERT_TRUE(PopulateCardStore(store.Get()));
  EXPECT_EQ(store.Certificates().size(), 0u);
  EXPECT_EQ(ReaderChanged[0], 1);
  fakepcsc::SetHeldByOtherProgram(kReader, false);
  ASSERT_TRUE(PopulateCardStore(store.Get()));
  EXPECT_EQ(store.Certificates().size(), 1u);
  EXPECT_EQ(ReaderChanged[0], 0);
}

TEST_F(PopulationTest, WaitCursorWhileReadingAndTheReaderMutexKeepsReadersApart) {
  fakepcsc::AddReader(kReader);
  fakepcsc::InsertCard(kReader, CardWithCertificates(0x08, KeyedCertificates(1)));
  const HCURSOR before = LoadCursorA(nullptr, IDC_HAND);
  SetCursor(before);

  // Another reader of this card holds its mutex: the population waits for
  // it with the wait cursor showing.
  CNamedMutex mutex(ReaderMutexName(kReader.c_str()).c_str());
  ASSERT_NE(mutex.Handle(), nullptr);
  ASSERT_TRUE(mutex.Lock());
  MemoryStore store;
  std::thread population([&store] { PopulateCardStore(store.Get()); });
  bool waitShown = false;
  for (int i = 0; i < 500 && !waitShown; ++i) {
    waitShown = GetCursor() == LoadCursorA(nullptr, IDC_WAIT);
    if (!waitShown) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(waitShown);
  EXPECT_EQ(CertificateDirectoryReads(), 0u);
  ASSERT_TRUE(mutex.Unlock());
  population.join();
  EXPECT_EQ(store.Certificates().size(), 1u);
  EXPECT_EQ(GetCursor(), before);
}

TEST(ReaderMutexName, PrefixAndReaderNameOrADigestWhenTooLong) {
  EXPECT_EQ(ReaderMutexName("Lector 0"), "ORVEL221001Lector 0");
  const std::string fits(244, 'a');
  EXPECT_EQ(ReaderMutexName(fits.c_str()), "ORVEL221001" + fits);
  const std::string longA = std::string(300, 'r') + "A";
  const std::string longB = std::string(300, 'r') + "B";
  const std::string nameA = ReaderMutexName(longA.c_str());
  EXPECT_EQ(nameA.size(), 255u);
  EXPECT_EQ(nameA.rfind("ORVEL221001rrrr", 0), 0u);
  EXPECT_NE(nameA, ReaderMutexName(longB.c_str()));
  EXPECT_EQ(nameA, ReaderMutexName(longA.c_str()));
}

TEST(CardCertCache, SameCardComparesTheWholeChipInformation) {
  ChipInfo a{};
  a[17] = 1;
  ChipInfo b = a;
  CCardCertCache first(a);
  CCardCertCache same(b);
  b[0] = 9;
  CCardCertCache other(b);
  EXPECT_TRUE(first.SameCard(&same));
  EXPECT_FALSE(first.SameCard(&other));
  EXPECT_FALSE(first.SameCard(nullptr));
  EXPECT_TRUE(first.Empty());
}

}  // namespace
}  // namespace storeprov_test
