// The installation sequence against the virtual card behind the fake
// resource manager, with the card's provider module registered: which
// commands go out, which messages are shown and what stays on the card.
#include "card/key_installation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "common/windows_version.h"
#include "fake_card_fixture.h"
#include "installation_support.h"
#include "orvel_test/registration.h"
#include "platform/provider_registry.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace card_test {
namespace {

constexpr CardSerial kSerial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};

using CommandMatch = std::function<bool(const Bytes&)>;

CommandMatch Starts(Bytes prefix) {
  return [prefix](const Bytes& c) {
    return c.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), c.begin());
  };
}
bool IsKeyWrite(const Bytes& c) {
  return c.size() > 4 && c[0] == 0x90 && (c[1] == 0x50 || c[1] == 0x52);
}
bool IsKeyCommand(const Bytes& c) { return IsKeyWrite(c) || Starts({0x90, 0x54})(c); }
bool IsUpdate(const Bytes& c) { return Starts({0x00, 0xD6})(c); }

class Installation : public FakeCardTest {
 protected:
  void SetUp() override {
    FakeCardTest::SetUp();
    ASSERT_TRUE(orvel_test::RegisterCardProvider());
    m_material = std::make_unique<KeyMaterial>(testpki::Key(1024));
    m_ui.commandCount = [] { return fakepcsc::TransmitCount(); };
    m_spec.serial = kSerial;
  }

  // Puts a fresh card made from m_spec into the reader (made on first use)
  // and starts counting commands.
  void InsertFreshCard() {
    if (!m_readerAdded) fakepcsc::AddReader("Lector 0");
    m_readerAdded = true;
    m_card = cardsim::VirtualCard::MakeFresh(m_spec);
    fakepcsc::InsertCard("Lector 0", m_card);
    StartCounting();
  }

  bool Install(WORD role = 0x6400,
               const KeyInstallationProfile& profile = kStoreProviderInstallation) {
    return KeyInstallation(m_material->blob, m_material->identifier, role, m_material->certificate,
                           profile, m_ui);
  }

  // The number (1-based) of the occurrence-th command matching, in a run of
  // the installation on a fresh card; a fresh card goes in again afterwards.
  std::size_t NumberOfCommandInARun(const CommandMatch& match, int occurrence, WORD role = 0x6400) {
    InsertFreshCard();
    RecordingUi dryRun;
    KeyInstallation(m_material->blob, m_material->identifier, role, m_material->certificate,
                    kStoreProviderInstallation, dryRun);
    const auto commands = Commands();
    std::size_t number = 0;
    for (std::size_t i = 0; i < commands.size(); ++i) {
      if (match(commands[i]) && --occurrence == 0) number = i + 1;
      if (number != 0) break;
    }
    EXPECT_NE(number, 0u) << "no such command in a run";
    InsertFreshCard();
    return number;
  }

  std::vector<Bytes> KeyCommands() {
    std::vector<Bytes> out;
    for (const Bytes& c : Commands()) {
      if (IsKeyCommand(c)) out.push_back(c);
    }
    return out;
  }
  Bytes FileBytes(std::uint16_t fid) { return m_card->ReadFile({kApplicationDf, fid}).value(); }
  static bool AllZero(const Bytes& b) {
    return std::all_of(b.begin(), b.end(), [](auto x) { return x == 0; });
  }
  void PutRecords(std::uint16_t fid, const Bytes& records) {
    const auto current = m_card->ReadFile({kApplicationDf, fid});
    ASSERT_TRUE(current);
    ASSERT_TRUE(m_card->WriteFile({kApplicationDf, fid}, DirectoryFile(records, current->size())));
  }

  cardsim::CardSpec m_spec;
  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<KeyMaterial> m_material;
  RecordingUi m_ui;
  bool m_readerAdded = false;
};

// --- Roles -----------------------------------------------------------------

TEST_F(Installation, BothRolesWriteTheExchangeKeyThenTheSignatureKey) {
  InsertFreshCard();
  ASSERT_TRUE(Install(0x6400));
  EXPECT_TRUE(m_ui.messages.empty());
  EXPECT_EQ(m_ui.events, (std::vector<std::string>{"pin", "begin", "end"}));

  const auto keyCommands = KeyCommands();
  ASSERT_EQ(keyCommands.size(), 14u);
  for (std::size_t i = 0; i < 14; ++i) {
    EXPECT_EQ(keyCommands[i][2], i < 7 ? 0x40 : 0x80) << i;
    EXPECT_EQ(keyCommands[i][3], 0x20) << i;
    EXPECT_EQ(keyCommands[i][1], (i % 7) < 2 ? 0x50 : 0x52) << i;
  }

  const Bytes prkdf = FileBytes(kPrkdf);
  const Bytes pukdf = FileBytes(kPukdf);
  KeyId id;
  std::copy(m_material->identifier.begin(), m_material->identifier.end(), id.begin());
  EXPECT_EQ(Bytes(prkdf.begin(), prkdf.begin() + 85), PrivateKeyRecord(0x20, id));
  EXPECT_EQ(Bytes(pukdf.begin(), pukdf.begin() + 85), PublicKeyRecord(0x20, id, 0x6400));
  EXPECT_EQ(pukdf[37], 0x64);
  EXPECT_EQ(pukdf[38], 0x00);
  for (auto role : {cardsim::KeyRole::Exchange, cardsim::KeyRole::Signature}) {
    const auto key = m_card->Key(0x20, role);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->Consistent());
  }
  // The provider stored the certificate: a record in the certificate directory.
  EXPECT_EQ(m_card->ReadFile({kApplicationDf, 0x6004}).value()[0], 0x30);
}

TEST_F(Installation, SignatureRoleOnlySendsP180) {
  InsertFreshCard();
  ASSERT_TRUE(Install(0x2000, kWizardInstallation));
  const auto keyCommands = KeyCommands();
  ASSERT_EQ(keyCommands.size(), 7u);
  for (const Bytes& c : keyCommands) EXPECT_EQ(c[2], 0x80);
  const Bytes pukdf = FileBytes(kPukdf);
  EXPECT_EQ(pukdf[37], 0x20);
  EXPECT_EQ(pukdf[38], 0x00);
  EXPECT_TRUE(m_card->Key(0x20, cardsim::KeyRole::Signature));
  EXPECT_FALSE(m_card->Key(0x20, cardsim::KeyRole::Exchange));
}

TEST_F(Installation, ExchangeRoleOnlySendsP140) {
  InsertFreshCard();
  ASSERT_TRUE(Install(0x4400));
  const auto keyCommands = KeyCommands();
  ASSERT_EQ(keyCommands.size(), 7u);
  for (const Bytes& c : keyCommands) EXPECT_EQ(c[2], 0x40);
  EXPECT_EQ(FileBytes(kPukdf)[37], 0x44);
  EXPECT_FALSE(m_card->Key(0x20, cardsim::KeyRole::Signature));
}

TEST_F(Installation, RoleWordWithNeitherRoleFailsTheKeyBlock) {
  InsertFreshCard();
  EXPECT_FALSE(Install(0x0400));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{12}));
  const auto keyCommands = KeyCommands();
  ASSERT_EQ(keyCommands.size(), 1u);
  EXPECT_EQ(keyCommands[0], (Bytes{0x90, 0x54, 0x40, 0x20, 0x00}));
}

// --- Key references ----------------------------------------------------------

TEST_F(Installation, NoFreeReferenceFrom32Shows14AndWritesNothing) {
  m_spec.prkdfSize = 224 * 85 + 64;
  InsertFreshCard();
  Bytes records;
  for (unsigned r = 32; r < 256; ++r) {
    const Bytes record =
        PrivateKeyRecord(static_cast<std::uint8_t>(r), MakeKeyId(static_cast<std::uint8_t>(r)));
    records.insert(records.end(), record.begin(), record.end());
  }
  PutRecords(kPrkdf, records);
  StartCounting();

  EXPECT_FALSE(Install(0x6400));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{14}));
  EXPECT_TRUE(KeyCommands().empty());
  for (const Bytes& c : Commands()) EXPECT_FALSE(IsUpdate(c));

  m_ui = RecordingUi{};
  InsertFreshCard();
  PutRecords(kPrkdf, records);
  EXPECT_FALSE(Install(0x6400, kWizardInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{34}));
}

TEST_F(Installation, Reference32TakenGives33AndLowReferencesStayUnused) {
  InsertFreshCard();
  PutRecords(kPrkdf, PrivateKeyRecord(32, MakeKeyId(0x01)));
  StartCounting();
  ASSERT_TRUE(Install(0x6400));
  const auto keyCommands = KeyCommands();
  ASSERT_FALSE(keyCommands.empty());
  for (const Bytes& c : keyCommands) EXPECT_EQ(c[3], 33);
  EXPECT_EQ(FileBytes(kPrkdf)[85 + 48], 33);
  EXPECT_EQ(FileBytes(kPukdf)[48], 33);
  for (const auto& [slot, key] : m_card->Keys()) EXPECT_EQ(slot.first, 33);
}

// --- Failures in the key block ----------------------------------------------

TEST_F(Installation, RefusedThirdCrtPartErasesTheReferenceAndAppendsNothing) {
  const std::size_t third = NumberOfCommandInARun(Starts({0x90, 0x52}), 3);
  fakepcsc::AnswerStatusAt(third, 0x6A80);

  EXPECT_FALSE(Install(0x6400, kWizardInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{32}));
  EXPECT_EQ(m_ui.events, (std::vector<std::string>{"pin", "begin", "message 32", "end"}));
  const auto commands = Commands();
  ASSERT_GT(commands.size(), third);
  EXPECT_EQ(commands[third], (Bytes{0x90, 0x54, 0x40, 0x20, 0x00}));
  // The erase is the last command before the message.
  EXPECT_EQ(m_ui.commandsAtMessage, (std::vector<std::size_t>{third + 1}));
  EXPECT_TRUE(m_card->Keys().empty());
  EXPECT_TRUE(AllZero(FileBytes(kPrkdf)));
  EXPECT_TRUE(AllZero(FileBytes(kPukdf)));
}

TEST_F(Installation, SecondPinVerificationRefusedShows11Then12AfterTheErase) {
  const std::size_t secondVerify = NumberOfCommandInARun(Starts({0x00, 0x20}), 2);
  fakepcsc::AnswerStatusAt(secondVerify, 0x63C2);

  EXPECT_FALSE(Install(0x6400));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{11, 12}));
  const auto keyCommands = KeyCommands();
  ASSERT_EQ(keyCommands.size(), 1u);
  EXPECT_EQ(keyCommands[0], (Bytes{0x90, 0x54, 0x40, 0x20, 0x00}));
  ASSERT_EQ(m_ui.commandsAtMessage.size(), 2u);
  EXPECT_EQ(m_ui.commandsAtMessage[0], secondVerify);
  EXPECT_EQ(m_ui.commandsAtMessage[1], secondVerify + 1);
}

TEST_F(Installation, RecordsThatCannotBeAppendedFailTheKeyBlock) {
  // The card refuses the public-key record: not enough memory.
  const auto isRecordWrite = [](const Bytes& c) { return IsUpdate(c) && c.size() == 5 + 85; };
  fakepcsc::AnswerStatusAt(NumberOfCommandInARun(isRecordWrite, 1), 0x6A84);
  EXPECT_FALSE(Install(0x6400));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{12}));
  EXPECT_EQ(KeyCommands().back(), (Bytes{0x90, 0x54, 0x40, 0x20, 0x00}));
  EXPECT_TRUE(m_card->Keys().empty());
  // No record is left naming the erased key: the reference reads as free.
  EXPECT_TRUE(AllZero(FileBytes(kPrkdf)));
  EXPECT_TRUE(AllZero(FileBytes(kPukdf)));
}

TEST_F(Installation, AppendsOfAnotherProgramInBetweenAreNotWrittenOver) {
  // Another program appends a key record to the PrKDF just before the
  // installation writes its own there.
  const auto isRecordWrite = [](const Bytes& c) { return IsUpdate(c) && c.size() == 5 + 85; };
  const std::size_t privateRecord = NumberOfCommandInARun(isRecordWrite, 2);
  const Bytes othersRecord = PrivateKeyRecord(40, MakeKeyId(0x40));
  bool othersWritten = false;
  fakepcsc::BeforeCommand(privateRecord, [&] {
    CCryptoCard other(Connect("Lector 0"));
    other.SelectApplication(kPrkdf);
    if (other.StepSucceeded()) {
      other.UpdateBinary(0, static_cast<WORD>(othersRecord.size()), othersRecord.data());
      othersWritten = other.StepSucceeded();
    }
  });
  ASSERT_TRUE(Install(0x6400));
  const Bytes prkdf = FileBytes(kPrkdf);
  KeyId id;
  std::copy(m_material->identifier.begin(), m_material->identifier.end(), id.begin());
  const Bytes ours = PrivateKeyRecord(0x20, id);
  const auto holds = [&](const Bytes& record) {
    return std::search(prkdf.begin(), prkdf.end(), record.begin(), record.end()) != prkdf.end();
  };
  EXPECT_TRUE(holds(ours));
  EXPECT_EQ(holds(othersRecord), othersWritten);
}

// A card whose key directories have no room for one more record: "no space"
// before any key command, and the key already under 32 stays as it was.
struct FullDirectoryCase {
  const char* name;
  std::size_t prkdfSize;
  std::vector<std::uint8_t> privateRecords;
  std::size_t pukdfSize;
  std::vector<std::uint8_t> publicRecords;
  bool wizard;
};

void PrintTo(const FullDirectoryCase& c, std::ostream* os) { *os << c.name; }

class InstallationOnFullDirectories : public Installation,
                                      public ::testing::WithParamInterface<FullDirectoryCase> {};

TEST_P(InstallationOnFullDirectories, ShowsNoSpaceBeforeAnyKeyCommand) {
  const FullDirectoryCase& c = GetParam();
  m_spec.prkdfSize = c.prkdfSize;
  m_spec.pukdfSize = c.pukdfSize;
  InsertFreshCard();
  Bytes privateRecords, publicRecords;
  for (std::uint8_t r : c.privateRecords)
    privateRecords = Join({privateRecords, PrivateKeyRecord(r, MakeKeyId(r))});
  for (std::uint8_t r : c.publicRecords)
    publicRecords = Join({publicRecords, PublicKeyRecord(r, MakeKeyId(r))});
  PutRecords(kPrkdf, privateRecords);
  PutRecords(kPukdf, publicRecords);
  PlaceKeyPart(*m_card, 32);
  const auto keysBefore = m_card->Keys();
  const Bytes prkdfBefore = FileBytes(kPrkdf), pukdfBefore = FileBytes(kPukdf);
  StartCounting();

  EXPECT_FALSE(Install(0x6400, c.wizard ? kWizardInstallation : kStoreProviderInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{c.wizard ? 34u : 14u}));
  EXPECT_TRUE(KeyCommands().empty());
  EXPECT_EQ(m_card->Keys().size(), keysBefore.size());
  EXPECT_EQ(m_card->Key(32, cardsim::KeyRole::Signature)->exponent,
            keysBefore.at({32, cardsim::KeyRole::Signature}).exponent);
  EXPECT_EQ(FileBytes(kPrkdf), prkdfBefore);
  EXPECT_EQ(FileBytes(kPukdf), pukdfBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallationOnFullDirectories,
    ::testing::Values(
        // Reading past the PrKDF's end is refused with 6B00; 32 is in the PuKDF only.
        FullDirectoryCase{"PrkdfFullToItsLastByte", 2 * 85, {33, 34}, 1024, {32}, false},
        FullDirectoryCase{"PrkdfFullToItsLastByteWizard", 2 * 85, {33, 34}, 1024, {32}, true},
        // Two bytes left: the four-byte read there is answered 6C02.
        FullDirectoryCase{"PrkdfWithTwoBytesLeft", 2 * 85 + 2, {33, 34}, 1024, {32}, false},
        // The end marker is read, but 84 bytes cannot take a record.
        FullDirectoryCase{"PrkdfWith84BytesLeft", 85 + 84, {32}, 1024, {32}, true},
        FullDirectoryCase{"PukdfFullToItsLastByte", 1024, {}, 85, {32}, false},
        FullDirectoryCase{"PukdfWith84BytesLeft", 1024, {32}, 85 + 84, {32}, false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// --- PIN -----------------------------------------------------------------------

TEST_F(Installation, CancelledPinShows11BeforeAnyCardCommand) {
  InsertFreshCard();
  m_ui.pin.reset();
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.events, (std::vector<std::string>{"pin", "message 11"}));
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(Installation, StoreProviderRefusesPinsLongerThan20) {
  InsertFreshCard();
  m_ui.pin = std::string(21, '1');
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{11}));
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);

  // Twenty characters go to the card, which refuses them.
  m_ui = RecordingUi{};
  m_ui.pin = std::string(20, '1');
  InsertFreshCard();
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{11}));
  const auto commands = Commands();
  EXPECT_EQ(std::count_if(commands.begin(), commands.end(), Starts({0x00, 0x20, 0x00, 0x00, 0x14})),
            1);
  EXPECT_EQ(m_card->PinTriesLeft(), 2);
}

TEST_F(Installation, StoreProviderSendsAnEmptyPinToTheCard) {
  InsertFreshCard();
  m_ui.pin = "";
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{11}));
  const auto commands = Commands();
  EXPECT_NE(std::find(commands.begin(), commands.end(), Bytes{0x00, 0x20, 0x00, 0x00, 0x00}),
            commands.end());
}

TEST_F(Installation, WizardRefusesEmptyAndOverlongPinsUnsent) {
  InsertFreshCard();
  m_ui.pin = "";
  EXPECT_FALSE(Install(0x6400, kWizardInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{31}));

  m_ui = RecordingUi{};
  m_ui.pin = std::string(kMaxVerifyPinLength + 1, '1');
  EXPECT_FALSE(Install(0x6400, kWizardInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{31}));
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
  EXPECT_EQ(m_card->PinTriesLeft(), 3);
}

TEST_F(Installation, WrongPinShows11AndWritesNothing) {
  InsertFreshCard();
  m_ui.pin = "9999";
  EXPECT_FALSE(Install(0x6400, kStoreProviderInstallation));
  EXPECT_EQ(m_ui.events, (std::vector<std::string>{"pin", "begin", "message 11", "end"}));
  EXPECT_TRUE(KeyCommands().empty());
}

// --- Context, card, serial, scan -------------------------------------------------

TEST_F(Installation, NoResourceManagerShowsThePlatformsMessage) {
  InsertFreshCard();
  fakepcsc::FailEstablishContext(true, true);
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{IsWindowsNT() ? 4u : 5u}));
  EXPECT_TRUE(m_ui.events.size() == 1) << "no PIN prompt";
  m_ui = RecordingUi{};
  EXPECT_FALSE(Install(0x6400, kWizardInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{IsWindowsNT() ? 24u : 25u}));
}

TEST_F(Installation, NoCardShows2WithoutAskingForThePin) {
  fakepcsc::AddReader("Lector vacío");
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.events, (std::vector<std::string>{"message 2"}));
  m_ui = RecordingUi{};
  EXPECT_FALSE(Install(0x6400, kWizardInstallation));
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{23}));
}

TEST_F(Installation, RefusedSerialNumberShows13) {
  const std::size_t chipInfo = NumberOfCommandInARun(Starts({0x90, 0xB8}), 1);
  fakepcsc::AnswerStatusAt(chipInfo, 0x6A86);
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{13}));
  EXPECT_TRUE(KeyCommands().empty());
}

// GET CHIP INFO answered 90 00 with fewer than the 18 bytes that carry the
// serial: the container could not be named, so nothing is written.
class InstallationWithShortChipInfo : public Installation,
                                      public ::testing::WithParamInterface<std::size_t> {};

TEST_P(InstallationWithShortChipInfo, Shows13BeforeAnyKeyCommand) {
  for (const bool wizard : {false, true}) {
    m_ui = RecordingUi{};
    InsertFreshCard();
    ShortenChipInfo(*m_card, GetParam());
    EXPECT_FALSE(Install(0x6400, wizard ? kWizardInstallation : kStoreProviderInstallation));
    EXPECT_EQ(m_ui.messages, (std::vector<UINT>{wizard ? 33u : 13u}));
    EXPECT_TRUE(KeyCommands().empty());
    for (const Bytes& c : Commands()) EXPECT_FALSE(IsUpdate(c));
  }
}

INSTANTIATE_TEST_SUITE_P(DataBytes, InstallationWithShortChipInfo, ::testing::Values(0u, 6u, 17u));

TEST_F(Installation, CardErrorDuringTheReferenceScanShows13AndWritesNothing) {
  // The key at 32 is there, but the scan cannot read the private-key
  // directory: choosing 32 would write over it.
  InsertFreshCard();
  PutRecords(kPrkdf, PrivateKeyRecord(32, MakeKeyId(0x01)));
  StartCounting();
  RecordingUi probe;
  KeyInstallation(m_material->blob, m_material->identifier, 0x6400, m_material->certificate,
                  kStoreProviderInstallation, probe);
  const auto run = Commands();
  const auto chip = std::find_if(run.begin(), run.end(), Starts({0x90, 0xB8}));
  const auto firstRead = std::find_if(chip, run.end(), Starts({0x00, 0xB0}));
  ASSERT_NE(firstRead, run.end());
  const auto number = static_cast<std::size_t>(firstRead - run.begin()) + 1;

  InsertFreshCard();
  PutRecords(kPrkdf, PrivateKeyRecord(32, MakeKeyId(0x01)));
  StartCounting();
  fakepcsc::FailTransmitAt(number, SCARD_E_COMM_DATA_LOST);
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{13}));
  EXPECT_TRUE(KeyCommands().empty());
}

// --- The card's provider -----------------------------------------------------

TEST_F(Installation, ProviderFailureShows15AfterTheWaitCursorAndKeepsTheKey) {
  InsertFreshCard();
  ASSERT_TRUE(platform::UnregisterProvider("OrvelCSP"));
  EXPECT_FALSE(Install(0x6400, kWizardInstallation));
  EXPECT_EQ(m_ui.events, (std::vector<std::string>{"pin", "begin", "end", "message 35"}));
  EXPECT_EQ(m_card->Keys().size(), 2u);
  EXPECT_EQ(FileBytes(kPrkdf)[48], 0x20);
}

// --- Round trip ----------------------------------------------------------------

TEST_F(Installation, RoundTripFromAPfxBackToTheCertificate) {
  InsertFreshCard();
  CheckInstallationRoundTrip(*m_card);
}

}  // namespace
}  // namespace card_test
