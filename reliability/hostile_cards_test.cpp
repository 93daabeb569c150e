// Hostile and worn cards: a blocked PIN, a certificate directory with no room
// left, a certificate file whose header claims 4 GiB, certificate records
// longer or deeper than their file, and a card pulled out or reset between
// two commands of reading. Each ends with a message or a clean skip; nothing
// already on the card is lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "card/crypto_card.h"
#include "card/key_installation.h"
#include "fake_card_fixture.h"
#include "installation_support.h"
#include "orvel_test/certificate_files.h"
#include "orvel_test/registration.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace reliability {
namespace {

using card_test::Bytes;
using card_test::Join;

using card_test::kApplicationDf;
using card_test::kCdf;
using card_test::kCryptoDf;
using card_test::kPrkdf;
using card_test::kPukdf;
constexpr char kReaderName[] = "Lector 0";

using orvel_test::CertificateFile;
using orvel_test::LittleEndian32;

std::string PathOf(std::uint16_t fid) {
  char text[16];
  std::snprintf(text, sizeof text, "\\3F11\\%04X", fid);
  return text;
}

bool IsCardWrite(const Bytes& c) {
  return c.size() > 1 && ((c[0] == 0x90 && (c[1] == 0x50 || c[1] == 0x52 || c[1] == 0x54)) ||
                          (c[0] == 0x00 && c[1] == 0xD6) || (c[0] == 0x80 && c[1] == 0xE0));
}

class HostileCard : public card_test::FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    ASSERT_TRUE(orvel_test::RegisterCardProvider());
    m_material = std::make_unique<card_test::KeyMaterial>(testpki::Key(1024, 3));
    m_spec.serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
  }

  // A fresh card made from m_spec in the reader (added on first use).
  void InsertCard() {
    if (!m_readerAdded) fakepcsc::AddReader(kReaderName);
    m_readerAdded = true;
    m_card = cardsim::VirtualCard::MakeFresh(m_spec);
    fakepcsc::InsertCard(kReaderName, m_card);
    StartCounting();
  }
  void PutDirectory(std::uint16_t fid, const Bytes& records) {
    const auto current = m_card->ReadFile({kApplicationDf, fid});
    ASSERT_TRUE(current);
    ASSERT_TRUE(m_card->WriteFile({kApplicationDf, fid},
                                  card_test::DirectoryFile(records, current->size())));
  }
  void PutFile(std::uint16_t fid, const Bytes& contents) {
    ASSERT_TRUE(m_card->CreateFile({kCryptoDf}, fid, contents.size()));
    ASSERT_TRUE(m_card->WriteFile({kCryptoDf, fid}, contents));
  }
  // A certificate of the card: its file, its record, and its key's records
  // under reference, identifier from idFirst.
  void PutCertificate(std::uint16_t fid, const Bytes& file, std::uint8_t reference,
                      std::uint8_t idFirst, Bytes* cdf, Bytes* prkdf) {
    const card_test::KeyId id = card_test::MakeKeyId(idFirst);
    *cdf = Join({*cdf, card_test::CertificateRecord(card_test::IdElement(id), PathOf(fid))});
    *prkdf = Join({*prkdf, card_test::PrivateKeyRecord(reference, id)});
    PutFile(fid, file);
  }

  bool Install(const KeyInstallationProfile& profile) {
    return KeyInstallation(m_material->blob, m_material->identifier, 0x6400,
                           m_material->certificate, profile, m_ui);
  }

  // Every certificate the store provider's reading loop takes from the card,
  // with 2048-byte buffers; the calls' results in *results.
  std::vector<Bytes> ReadAll(std::vector<int>* results = nullptr) {
    std::vector<Bytes> certificates;
    for (auto& entry : orvel_test::ReadCertificateEntries(Connect(kReaderName), 32, results)) {
      if (entry.certificate) certificates.push_back(std::move(*entry.certificate));
    }
    return certificates;
  }

  cardsim::CardSpec m_spec;
  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<card_test::KeyMaterial> m_material;
  card_test::RecordingUi m_ui;
  bool m_readerAdded = false;
};

TEST_F(HostileCard, BlockedPinIsRefusedWithTheMessageAndNothingIsWritten) {
  m_spec.pinTries = 1;
  InsertCard();
  m_card->Transmit(
      {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's', 't', 'e', 'r', '.', 'F', 'i', 'l', 'e'});
  m_card->Transmit(
      {0x00, 0xA4, 0x04, 0x00, 0x0A, 'I', 'C', 'C', '.', 'C', 'r', 'y', 'p', 't', 'o'});
  m_card->Transmit({0x00, 0x20, 0x00, 0x00, 0x04, '0', '0', '0', '0'});
  ASSERT_EQ(m_card->PinTriesLeft(), 0);

  for (const KeyInstallationProfile* profile :
       {&card_test::kStoreProviderInstallation, &card_test::kWizardInstallation}) {
    m_ui = card_test::RecordingUi{};
    StartCounting();
    EXPECT_FALSE(Install(*profile));
    EXPECT_EQ(m_ui.messages, (std::vector<UINT>{profile->messages.invalidPin}));
    const auto commands = Commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), IsCardWrite), 0);
    // The right PIN did not unblock it either.
    EXPECT_EQ(m_card->PinTriesLeft(), 0);
    EXPECT_FALSE(m_card->PinVerified());
  }
  EXPECT_TRUE(m_card->Keys().empty());
}

TEST_F(HostileCard, FullCertificateDirectoryShowsTheMessageAndKeepsWhatWasThere) {
  // One certificate fills the directory: no room for a second record.
  const Bytes existing =
      testpki::Der(testpki::MakeCert(testpki::CertSpec(testpki::Key(1024, 4))).get());
  const Bytes record = card_test::CertificateRecord(
      card_test::IdElement(card_test::MakeKeyId(0x50)), PathOf(0x3F80));
  m_spec.cdfSize = record.size() + 8;
  InsertCard();
  Bytes cdf, prkdf;
  PutCertificate(0x3F80, CertificateFile(existing), 0x20, 0x50, &cdf, &prkdf);
  PutDirectory(kCdf, cdf);
  PutDirectory(kPrkdf, prkdf);
  PutDirectory(kPukdf, card_test::PublicKeyRecord(0x20, card_test::MakeKeyId(0x50)));
  const Bytes cdfBefore = m_card->ReadFile({kApplicationDf, kCdf}).value();
  StartCounting();

  EXPECT_FALSE(Install(card_test::kStoreProviderInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{15}));
  // The key went under the next reference with both records: the state a
  // failed certificate binding leaves.
  for (auto role : {cardsim::KeyRole::Exchange, cardsim::KeyRole::Signature}) {
    const auto key = m_card->Key(0x21, role);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->Consistent());
  }
  EXPECT_EQ(m_card->ReadFile({kApplicationDf, kPrkdf})->at(85 + 48), 0x21);
  EXPECT_EQ(m_card->ReadFile({kApplicationDf, kPukdf})->at(85 + 48), 0x21);
  // What was there is still there and still read; no stray file was left.
  EXPECT_EQ(m_card->ReadFile({kApplicationDf, kCdf}).value(), cdfBefore);
  EXPECT_EQ(ReadAll(), std::vector<Bytes>{existing});
  EXPECT_EQ(m_card->ListFiles({kCryptoDf}), (std::vector<std::uint16_t>{0x3F77, 0x3F78, 0x3F80}));
}

TEST_F(HostileCard, CertificateFileClaimingFourGibibytesIsNotTakenNorAllocated) {
  InsertCard();
  const Bytes good =
      testpki::Der(testpki::MakeCert(testpki::CertSpec(testpki::Key(1024, 4))).get());
  Bytes huge = Join({LittleEndian32(0xFFFFFFFF), LittleEndian32(0xFFFFFFFF)});
  huge.resize(300, 0x78);
  Bytes cdf, prkdf;
  PutCertificate(0x3F80, CertificateFile(good), 0x20, 0x50, &cdf, &prkdf);
  PutCertificate(0x3F81, huge, 0x21, 0x60, &cdf, &prkdf);
  PutDirectory(kCdf, cdf);
  PutDirectory(kPrkdf, prkdf);

  std::vector<int> results;
  StartCounting();
  EXPECT_EQ(ReadAll(&results), std::vector<Bytes>{good});
  EXPECT_EQ(results, (std::vector<int>{1, 0}));
  // Of the huge file only its header was read.
  const auto commands = Commands();
  const Bytes selectHuge = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x81};
  auto it = std::find(commands.begin(), commands.end(), selectHuge);
  ASSERT_NE(it, commands.end());
  for (++it; it != commands.end() && (*it)[1] != 0xA4; ++it) {
    if ((*it)[1] == 0xB0) {
      EXPECT_EQ(*it, (Bytes{0x00, 0xB0, 0x00, 0x00, 0x08}));
    }
  }
}

TEST_F(HostileCard, CertificateRecordsLongerOrDeeperThanTheFileEndTheReadingCleanly) {
  const Bytes good =
      testpki::Der(testpki::MakeCert(testpki::CertSpec(testpki::Key(1024, 4))).get());
  const struct {
    const char* what;
    Bytes record;
  } cases[] = {
      {"longer than the file", {0x30, 0x82, 0x04, 0x00, 0x30, 0x02, 0x0C, 0x00}},
      {"four length bytes", {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xF0, 0x30, 0x00}},
      {"indefinite length", {0x30, 0x80, 0x30, 0x02, 0x0C, 0x00, 0x00, 0x00}},
      {"type attributes longer than the record",
       {0x30, 0x0C, 0x30, 0x02, 0x0C, 0x00, 0x30, 0x02, 0x04, 0x00, 0xA1, 0x7F, 0x30, 0x7D}},
      {"path longer than the type attributes",
       {0x30, 0x10, 0x30, 0x02, 0x0C, 0x00, 0x30, 0x02, 0x04, 0x00, 0xA1, 0x06, 0x30, 0x04, 0x04,
        0x7E, 0x5C, 0x33}},
      {"nested deeper than the record",
       {0x30, 0x0C, 0x30, 0x0A, 0x30, 0x08, 0x30, 0x06, 0x30, 0x04, 0x30, 0x02, 0x30, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    InsertCard();
    Bytes cdf, prkdf;
    PutCertificate(0x3F80, CertificateFile(good), 0x20, 0x50, &cdf, &prkdf);
    PutDirectory(kCdf, Join({cdf, c.record}));
    PutDirectory(kPrkdf, prkdf);

    std::vector<int> results;
    EXPECT_EQ(ReadAll(&results), std::vector<Bytes>{good});
    EXPECT_EQ(results, (std::vector<int>{1, 0}));
    // The scan of key references walks the same directory.
    CCryptoCard scanner(Connect(kReaderName));
    KeyReferenceMap map{};
    EXPECT_EQ(scanner.ScanKeyReferences(&map), 1);
    EXPECT_NE(map[0x20] & KeyRefCertified, 0);
    EXPECT_LT(fakepcsc::TransmitCount(), 200u) << "the walk ran on";
  }
}

TEST_F(HostileCard, CardPulledOrResetBetweenTwoCommandsOfReadingIsACleanSkip) {
  const Bytes first =
      testpki::Der(testpki::MakeCert(testpki::CertSpec(testpki::Key(1024, 4))).get());
  const Bytes second =
      testpki::Der(testpki::MakeCert(testpki::CertSpec(testpki::Key(1024, 5))).get());
  InsertCard();
  Bytes cdf, prkdf;
  PutCertificate(0x3F80, CertificateFile(first), 0x20, 0x50, &cdf, &prkdf);
  PutCertificate(0x3F81, CertificateFile(second), 0x21, 0x60, &cdf, &prkdf);
  PutDirectory(kCdf, cdf);
  PutDirectory(kPrkdf, prkdf);
  const Bytes image = Join({m_card->ReadFile({kApplicationDf, kCdf}).value(),
                            m_card->ReadFile({kApplicationDf, kPrkdf}).value()});
  StartCounting();
  ASSERT_EQ(ReadAll(), (std::vector<Bytes>{first, second}));
  const std::size_t commands = fakepcsc::TransmitCount();

  for (bool pulled : {true, false}) {
    for (std::size_t k = 1; k <= commands; ++k) {
      SCOPED_TRACE((pulled ? "pulled before command " : "reset before command ") +
                   std::to_string(k));
      StartCounting();
      pulled ? fakepcsc::RemoveCardAt(k) : fakepcsc::ResetCardAt(k);
      // Whatever is read is right; the reading ends.
      for (const Bytes& got : ReadAll()) EXPECT_TRUE(got == first || got == second);
      fakepcsc::ClearFaults();
      if (fakepcsc::CardIn(kReaderName) == nullptr) fakepcsc::InsertCard(kReaderName, m_card);
      // Reading wrote nothing, and everything is read again.
      EXPECT_EQ(Join({m_card->ReadFile({kApplicationDf, kCdf}).value(),
                      m_card->ReadFile({kApplicationDf, kPrkdf}).value()}),
                image);
      EXPECT_EQ(ReadAll(), (std::vector<Bytes>{first, second}));
    }
  }
}

}  // namespace
}  // namespace reliability
