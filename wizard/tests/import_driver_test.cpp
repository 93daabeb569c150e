// The card import driver against a virtual card behind the fake resource
// manager, with the user-interface operations answered from a script.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "cardsim/fake_pcsc.h"
#include "orvel_test/fake_readers.h"
#include "platform/handle_guards.h"
#include "platform/message_box.h"
#include "platform/provider_registry.h"
#include "support/card_records.h"
#include "wizard/import_driver.h"
#include "wizard_test_support.h"

namespace wizard_test {
namespace {

using cardsim::KeyRole;

constexpr std::uint8_t kFirstReference = 0x20;
constexpr const char* kSoftwareProvider = platform::kSoftwareProviderName;

bool IsVerify(const Bytes& command) {
  return command.size() >= 2 && command[0] == 0x00 && command[1] == 0x20;
}
bool IsKeyCommand(const Bytes& command) {
  return command.size() >= 2 && command[0] == 0x90 && (command[1] == 0x50 || command[1] == 0x52);
}
std::size_t CountCommands(bool (*match)(const Bytes&)) {
  std::size_t count = 0;
  for (const fakepcsc::TraceEntry& entry : fakepcsc::Trace()) count += match(entry.command) ? 1 : 0;
  return count;
}

// The card left powered up with a verified PIN, so that a later power-down
// shows.
void VerifyPinDirectly(cardsim::VirtualCard& card) {
  card.Transmit(
      {0x00, 0xA4, 0x04, 0x00, 0x0B, 'M', 'a', 's', 't', 'e', 'r', '.', 'F', 'i', 'l', 'e'});
  card.Transmit({0x00, 0xA4, 0x04, 0x00, 0x0A, 'I', 'C', 'C', '.', 'C', 'r', 'y', 'p', 't', 'o'});
  card.Transmit({0x00, 0x20, 0x00, 0x00, 0x04, '1', '2', '3', '4'});
  ASSERT_TRUE(card.PinVerified());
}

class ImportDriver : public WizardTest {
 protected:
  ImportOutcome Run(Bytes pfx, const char* password = kPassword) {
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), pfx.data()};
    const std::u16string wide = testpki::Wide(password);
    return ImportStoreToCard(&blob, reinterpret_cast<LPCWSTR>(wide.c_str()), m_ui);
  }
  // One 1024-bit key with a sha1RSA certificate.
  Bytes GoodPfx(int which = 0) {
    auto certificate = Certificate(testpki::Key(1024, which), 0xA0, nullptr, 10 + which);
    return Pfx(testpki::Key(1024, which), certificate.get());
  }

  ScriptedUi m_ui;
};

// --- Runs that import nothing or stop before the card ---------------------------

TEST_F(ImportDriver, OnlyAuthorityCertificatesImportNothingWithoutPerCertificateMessages) {
  testpki::CertSpec rootSpec(testpki::Key(1024, 0));
  rootSpec.ca = true;
  rootSpec.keyUsage = 0x06;
  auto root = testpki::MakeCert(rootSpec);
  testpki::CertSpec subSpec(testpki::Key(1024, 1), testpki::Key(1024, 0));
  subSpec.ca = true;
  subSpec.serial = 2;
  auto sub = testpki::MakeCert(subSpec);

  EXPECT_EQ(Run(Pfx(nullptr, root.get(), {sub.get()})), ImportOutcome::Completed);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{{MB_ICONEXCLAMATION, 8, 19}}));
  EXPECT_EQ(m_ui.prompts, 0);
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(ImportDriver, PfxThatCannotBeOpenedIsRefused) {
  EXPECT_EQ(Run(GoodPfx(), "otra"), ImportOutcome::Refused);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(14)}));
  Bytes truncated = GoodPfx();
  truncated.resize(truncated.size() / 2);
  m_ui.messages.clear();
  EXPECT_EQ(Run(truncated), ImportOutcome::Refused);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(14)}));
  EXPECT_EQ(m_ui.prompts, 0);
}

TEST_F(ImportDriver, RefusedAlgorithmStopsTheRunBeforeLaterCertificates) {
  struct Case {
    const char* what;
    EVP_PKEY* key;
    const EVP_MD* digest;
  };
  const Case cases[] = {{"2048 bits", testpki::Key(2048), nullptr},
                        {"sha256RSA", testpki::Key(1024, 0), EVP_sha256()}};
  // A key of the user's that no run made.
  CProviderContext own;
  ASSERT_TRUE(CryptAcquireContextA(own.Receive(), "propia", kSoftwareProvider, PROV_RSA_FULL,
                                   CRYPT_NEWKEYSET));
  own.Release();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_ui = ScriptedUi();
    m_ui.pins = {std::string(kCardPin)};
    auto refused = Certificate(c.key, 0xA0, c.digest, 20);
    auto good = Certificate(testpki::Key(1024, 1), 0xA0, nullptr, 21);
    EXPECT_EQ(Run(PfxWithKeys({{c.key, refused.get()}, {testpki::Key(1024, 1), good.get()}})),
              ImportOutcome::Stopped);
    EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(27)}));
    // The later certificate was not looked at: no PIN asked, nothing sent.
    EXPECT_EQ(m_ui.prompts, 0);
    EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
    // The refused certificate's software key is gone, and so is the one of
    // the certificate the stopped run never reached; the user's own stays.
    EXPECT_EQ(SoftwareContainers(), 1u);
    EXPECT_TRUE(CryptAcquireContextA(own.Receive(), "propia", kSoftwareProvider, PROV_RSA_FULL, 0));
    own.Release();
  }
}

// --- The PIN ---------------------------------------------------------------------

TEST_F(ImportDriver, CancelledOrEmptyPinShows31PowersTheCardDownAndDeletesTheKey) {
  const std::optional<std::string> answers[] = {std::nullopt, std::string()};
  for (const auto& answer : answers) {
    SCOPED_TRACE(answer ? "empty" : "cancelled");
    m_ui = ScriptedUi();
    m_ui.pins = {answer};
    VerifyPinDirectly(*m_card);
    fakepcsc::ClearTrace();

    EXPECT_EQ(Run(GoodPfx()), ImportOutcome::Stopped);
    EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(31)}));
    EXPECT_EQ(m_ui.prompts, 1);
    EXPECT_EQ(CountCommands(IsVerify), 0u);
    EXPECT_FALSE(m_card->PinVerified());  // powered down
    EXPECT_EQ(m_ui.waitBegins, 0);
    EXPECT_EQ(SoftwareContainers(), 0u);
  }
}

TEST_F(ImportDriver, PinLongerThanVerifyCarriesIsRefusedNotCut) {
  // The card's PIN followed by more characters than one VERIFY can carry:
  // cut to fit, it might even be accepted.
  m_ui.pins = {std::string(kCardPin) + std::string(300, '9')};
  EXPECT_EQ(Run(GoodPfx()), ImportOutcome::Stopped);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(31)}));
  EXPECT_EQ(CountCommands(IsVerify), 0u);
  EXPECT_EQ(m_card->PinTriesLeft(), 3);
  EXPECT_TRUE(m_card->Keys().empty());
}

TEST_F(ImportDriver, WrongPinShows31AndWritesNothing) {
  m_ui.pins = {std::string("9999")};
  EXPECT_EQ(Run(GoodPfx()), ImportOutcome::Stopped);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(31)}));
  EXPECT_EQ(CountCommands(IsKeyCommand), 0u);
  EXPECT_EQ(m_ui.waitBegins, 1);
  EXPECT_EQ(m_ui.waitEnds, 1);
  EXPECT_EQ(SoftwareContainers(), 0u);
}

TEST_F(ImportDriver, NoCardShows23AndStillDeletesTheKey) {
  fakepcsc::RemoveCard(kReader);
  m_ui.pins = {std::string(kCardPin)};
  EXPECT_EQ(Run(GoodPfx()), ImportOutcome::Stopped);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(23)}));
  EXPECT_EQ(m_ui.prompts, 0);
  EXPECT_EQ(SoftwareContainers(), 0u);
}

// --- The card ----------------------------------------------------------------------

TEST_F(ImportDriver, CardWithEveryReferenceFrom32TakenShows34AndWritesNoKey) {
  cardsim::CardSpec spec;
  spec.serial = {1, 2, 3, 4, 5, 6};
  spec.prkdfSize = 224 * 85 + 64;
  auto full = cardsim::VirtualCard::MakeFresh(spec);
  Bytes records;
  for (int reference = 32; reference <= 255; ++reference) {
    const Bytes record =
        card_test::PrivateKeyRecord(static_cast<std::uint8_t>(reference),
                                    card_test::MakeKeyId(static_cast<std::uint8_t>(reference)));
    records.insert(records.end(), record.begin(), record.end());
  }
  ASSERT_TRUE(full->WriteFile({0x5015, 0x6001}, card_test::DirectoryFile(records, spec.prkdfSize)));
  fakepcsc::InsertCard(kReader, full);

  m_ui.pins = {std::string(kCardPin)};
  EXPECT_EQ(Run(GoodPfx()), ImportOutcome::Stopped);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(34)}));
  EXPECT_EQ(CountCommands(IsKeyCommand), 0u);
  EXPECT_TRUE(full->Keys().empty());
  EXPECT_FALSE(full->PinVerified());
  EXPECT_EQ(m_ui.waitBegins, 1);
  EXPECT_EQ(m_ui.waitEnds, 1);
  EXPECT_EQ(SoftwareContainers(), 0u);
}

TEST_F(ImportDriver, SecondVerificationFailingShows31ThenErasesAndShows32) {
  // Where the second VERIFY falls, from a run that goes through.
  m_ui.pins = {std::string(kCardPin)};
  ASSERT_EQ(Run(GoodPfx()), ImportOutcome::Completed);
  std::size_t secondVerify = 0, verifies = 0;
  const std::vector<fakepcsc::TraceEntry> trace = fakepcsc::Trace();
  for (std::size_t i = 0; i < trace.size() && secondVerify == 0; ++i) {
    if (IsVerify(trace[i].command) && ++verifies == 2) secondVerify = i + 1;
  }
  ASSERT_GT(secondVerify, 0u);

  // The same run on a fresh card that was exchanged after the first VERIFY.
  fakepcsc::Reset();
  cardsim::CardSpec spec;
  spec.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  auto card = orvel_test::AddReaderWithCard(kReader, spec);
  fakepcsc::AnswerStatusAt(secondVerify, 0x6983);
  m_ui = ScriptedUi();
  m_ui.pins = {std::string(kCardPin)};

  EXPECT_EQ(Run(GoodPfx()), ImportOutcome::Stopped);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(31), Error(32)}));
  const Bytes erase = {0x90, 0x54, 0x40, kFirstReference, 0x00};
  const std::vector<fakepcsc::TraceEntry> failed = fakepcsc::Trace();
  const auto erased =
      std::find_if(failed.begin(), failed.end(), [&](const auto& e) { return e.command == erase; });
  ASSERT_NE(erased, failed.end());
  // The erase went out after message 31 and before message 32.
  const auto eraseIndex = static_cast<std::size_t>(erased - failed.begin());
  EXPECT_GE(eraseIndex, m_ui.commandsBeforeMessage[0]);
  EXPECT_LT(eraseIndex, m_ui.commandsBeforeMessage[1]);
  EXPECT_EQ(CountCommands(IsKeyCommand), 0u);
  EXPECT_EQ(m_ui.waitBegins, 1);
  EXPECT_EQ(m_ui.waitEnds, 1);
  EXPECT_EQ(SoftwareContainers(), 0u);
}

// --- Imports that go through ----------------------------------------------------------

TEST_F(ImportDriver, OneCertificateGoesOntoTheCardWithItsKey) {
  m_ui.pins = {std::string(kCardPin)};
  EXPECT_EQ(Run(GoodPfx()), ImportOutcome::Completed);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{{MB_ICONASTERISK, 17, 18}}));
  EXPECT_EQ(m_ui.prompts, 1);
  EXPECT_EQ(m_ui.waitBegins, 1);
  EXPECT_EQ(m_ui.waitEnds, 1);
  EXPECT_EQ(m_ui.maxWaitDepth, 1);
  for (KeyRole role : {KeyRole::Exchange, KeyRole::Signature}) {
    const auto key = m_card->Key(kFirstReference, role);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->Consistent());
    EXPECT_EQ(key->modulus, Modulus(testpki::Key(1024, 0)));
  }
  EXPECT_FALSE(m_card->PinVerified());  // powered down at the end
  EXPECT_EQ(SoftwareContainers(), 0u);
}

TEST_F(ImportDriver, TwoKeysPromptTwiceAndTakeReferencesInStoreOrder) {
  auto first = Certificate(testpki::Key(1024, 0), 0x80, nullptr, 31);   // signature only
  auto second = Certificate(testpki::Key(1024, 1), 0x20, nullptr, 32);  // exchange only
  m_ui.pins = {std::string(kCardPin), std::string(kCardPin)};
  EXPECT_EQ(Run(PfxWithKeys(
                {{testpki::Key(1024, 0), first.get()}, {testpki::Key(1024, 1), second.get()}})),
            ImportOutcome::Completed);
  EXPECT_EQ(m_ui.prompts, 2);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{{MB_ICONASTERISK, 17, 18}}));
  const auto signature = m_card->Key(0x20, KeyRole::Signature);
  const auto exchange = m_card->Key(0x21, KeyRole::Exchange);
  ASSERT_TRUE(signature && exchange);
  EXPECT_EQ(signature->modulus, Modulus(testpki::Key(1024, 0)));
  EXPECT_EQ(exchange->modulus, Modulus(testpki::Key(1024, 1)));
  EXPECT_FALSE(m_card->Key(0x20, KeyRole::Exchange));
  EXPECT_FALSE(m_card->Key(0x21, KeyRole::Signature));
  EXPECT_EQ(m_card->Keys().size(), 2u);
  EXPECT_EQ(SoftwareContainers(), 0u);
}

TEST_F(ImportDriver, SecondCertificateFailingLeavesTheFirstAndShowsNoSummary) {
  auto first = Certificate(testpki::Key(1024, 0), 0xA0, nullptr, 41);
  auto second = Certificate(testpki::Key(1024, 1), 0xA0, nullptr, 42);
  m_ui.pins = {std::string(kCardPin), std::nullopt};
  EXPECT_EQ(Run(PfxWithKeys(
                {{testpki::Key(1024, 0), first.get()}, {testpki::Key(1024, 1), second.get()}})),
            ImportOutcome::Stopped);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(31)}));
  EXPECT_EQ(m_ui.prompts, 2);
  const auto kept = m_card->Key(0x20, KeyRole::Exchange);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->Consistent());
  EXPECT_FALSE(m_card->Key(0x21, KeyRole::Exchange));
  EXPECT_EQ(SoftwareContainers(), 0u);
}

// --- Keys that already live on the card ------------------------------------------------

class KeyOnCard : public ImportDriver {
 protected:
  // A certificate whose key provider information names provider and a
  // container of the card.
  testpki::X509Ptr m_x509 = Certificate(testpki::Key(1024, 0), 0xA0, nullptr, 50);
  CCertificateContext Context(const char16_t* provider) {
    const Bytes der = testpki::Der(m_x509.get());
    PCCERT_CONTEXT context =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    EXPECT_NE(context, nullptr);
    std::u16string container = u"0A0B0C0D0E0F640020\\3F11\\3F77\\";
    std::u16string name = provider;
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = reinterpret_cast<LPWSTR>(container.data());
    info.pwszProvName = reinterpret_cast<LPWSTR>(name.data());
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    EXPECT_TRUE(CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    return CCertificateContext(context);
  }
};

TEST_F(KeyOnCard, CountsAsImportedWithoutCardWorkOrPin) {
  const card_test::KeyId id = card_test::MakeKeyId(0x40);
  ASSERT_TRUE(m_card->WriteFile(
      {0x5015, 0x6001}, card_test::DirectoryFile(card_test::PrivateKeyRecord(0x20, id), 1024)));
  ASSERT_TRUE(m_card->WriteFile(
      {0x5015, 0x6002}, card_test::DirectoryFile(card_test::PublicKeyRecord(0x20, id), 1024)));
  auto certificate = Context(u"OrvelCSP");
  const CCertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  ASSERT_TRUE(CertAddCertificateContextToStore(store.Get(), certificate.Get(),
                                               CERT_STORE_ADD_ALWAYS, nullptr));

  EXPECT_EQ(ImportStoreCertificates(store.Get(), m_ui), ImportOutcome::Completed);
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{{MB_ICONASTERISK, 17, 18}}));
  EXPECT_EQ(m_ui.prompts, 0);
  EXPECT_EQ(CountCommands(IsVerify), 0u);
  EXPECT_EQ(CountCommands(IsKeyCommand), 0u);

  // The certificate alone: not even the provider touches the card.
  fakepcsc::ClearTrace();
  EXPECT_TRUE(ImportCertificateToCard(certificate.Get(), m_ui));
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
}

TEST_F(KeyOnCard, ProviderNameIsComparedCaseSensitively) {
  auto certificate = Context(u"orvelcsp");
  EXPECT_FALSE(ImportCertificateToCard(certificate.Get(), m_ui));
  // Not the card's provider: the key must be exported, and that fails.
  EXPECT_EQ(m_ui.messages, (std::vector<Shown>{Error(26)}));
}

TEST_F(KeyOnCard, NoCertificateIsFalseWithoutAMessage) {
  EXPECT_FALSE(ImportCertificateToCard(nullptr, m_ui));
  EXPECT_TRUE(m_ui.messages.empty());
}

}  // namespace
}  // namespace wizard_test
