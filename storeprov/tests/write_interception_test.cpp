// The write callback's branches, with the module's real dialogs and message
// boxes under the offscreen platform answered as a person would, a card in
// the fake resource manager and the card's provider module.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <deque>
#include <string>

#include "cardsim/fake_pcsc.h"
#include "common/module_instance.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/dialog_host.h"
#include "platform/handle_guards.h"
#include "platform/modal_dialog.h"
#include "platform/provider_registry.h"
#include "platform/resources.h"
#include "platform_test/scoped_user_dir.h"
#include "storeprov/entry_points.h"
#include "storeprov/messages.h"
#include "storeprov/pin_prompt.h"
#include "support/card_certificates.h"
#include "support/card_records.h"
#include "support/key_input.h"
#include "test_pki.h"

namespace storeprov_test {
namespace {

constexpr DWORD kImportFlags = 0x50001;
const std::string kReader = "Lector 0";

// A PFX of Key(1024, which) and its certificate imported into a memory
// store; the first certificate, with its software key.
class Imported : public testpki::ImportedCertificate {
 public:
  Imported(int keyUsage, DWORD importFlags, const EVP_MD* digest = nullptr, int which = 0)
      : testpki::ImportedCertificate(Spec(keyUsage, digest, which), importFlags) {}

 private:
  static testpki::CertSpec Spec(int keyUsage, const EVP_MD* digest, int which) {
    testpki::CertSpec spec(testpki::Key(1024, which));
    spec.serial = 500 + keyUsage + which;
    if (keyUsage >= 0) spec.keyUsage = keyUsage;
    spec.digest = digest;
    return spec;
  }
};

class WriteInterception : public ::testing::Test {
 protected:
  void SetUp() override {
    fakepcsc::Reset();
    ASSERT_TRUE(orvel_test::RegisterCardType());
    ASSERT_TRUE(orvel_test::RegisterCardProvider());
    platform::SetDialogShownHook([this](QDialog& dialog) { Answer(dialog); });
  }
  void TearDown() override {
    platform::SetDialogShownHook({});
    fakepcsc::Reset();
  }

  // What the user does at the next dialogs: "yes", "no", "ok", or a PIN.
  void Script(std::initializer_list<std::string> answers) { m_answers = answers; }

  void Answer(QDialog& dialog) {
    const std::string answer = m_answers.empty() ? "" : m_answers.front();
    if (!m_answers.empty()) m_answers.pop_front();
    if (auto* box = qobject_cast<QMessageBox*>(&dialog)) {
      m_shown.push_back("box " + box->windowTitle().toStdString() + ": " +
                        box->text().toStdString());
      box->button(answer == "yes"  ? QMessageBox::Yes
                  : answer == "no" ? QMessageBox::No
                                   : QMessageBox::Ok)
          ->click();
      return;
    }
    auto* host = dynamic_cast<DialogHost*>(&dialog);
    ASSERT_NE(host, nullptr);
    if (host->Item(kPinEditId) != nullptr) {
      m_shown.push_back("pin");
      storeprov_test::TypeText(host->Item(kPinEditId), QString::fromStdString(answer));
      qobject_cast<QPushButton*>(host->Item(IDOK))->click();
      return;
    }
    m_shown.push_back("notice " + host->ItemText(kNoticeTextId).toStdString());
    qobject_cast<QPushButton*>(host->Item(IDOK))->click();
  }

  static std::string Text(UINT id) {
    char text[400];
    EXPECT_GT(LoadStringA(ModuleInstance, id, text, sizeof text), 0) << "string " << id;
    return text;
  }
  static std::string Notice(UINT id) { return "notice " + Text(id); }
  static std::string Question() { return "box " + Text(18) + ": " + Text(16); }
  static std::string Error(UINT id) { return "box " + Text(3) + ": " + Text(id); }

  std::shared_ptr<cardsim::VirtualCard> InsertCard(
      const std::vector<std::uint8_t>& takenReferences = {}) {
    cardsim::CardSpec spec;
    spec.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x42};
    spec.prkdfSize = 20000;
    auto card = cardsim::VirtualCard::MakeFresh(spec);
    card_test::Bytes records;
    for (std::uint8_t reference : takenReferences) {
      records = card_test::Join(
          {records, card_test::PrivateKeyRecord(reference, card_test::MakeKeyId(reference))});
    }
    EXPECT_TRUE(card->WriteFile({0x5015, 0x6001}, card_test::DirectoryFile(records, 20000)));
    fakepcsc::AddReader(kReader);
    fakepcsc::InsertCard(kReader, card);
    return card;
  }

  platform_test::ScopedUserDir m_userDir;
  std::deque<std::string> m_answers;
  std::vector<std::string> m_shown;
};

TEST_F(WriteInterception, KeyAlreadyWithTheCardsProviderPassesSilently) {
  const Bytes der = TestCertificate(60);
  const CCertificateContext context(
      CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  ASSERT_NE(context.Get(), nullptr);
  std::u16string container = u"0A0B0C0D0E42640020\\3F11\\3F77\\";
  std::u16string provider = u"OrvelCSP";
  CRYPT_KEY_PROV_INFO info{container.data(), provider.data(), PROV_RSA_FULL, 0, 0, nullptr, 3};
  ASSERT_TRUE(
      CertSetCertificateContextProperty(context.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, context.Get(), kImportFlags), TRUE);
  EXPECT_TRUE(m_shown.empty());
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, nullptr, kImportFlags), FALSE);
}

TEST_F(WriteInterception, WithoutExportableKeyTheQuestionThenNotice6) {
  Imported certificate(0xA0, 0);  // key not exportable
  ASSERT_NE(certificate.Get(), nullptr);
  Script({"yes", "ok"});
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), kImportFlags), FALSE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Question(), Notice(6)}));

  m_shown.clear();
  Script({"no"});
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), kImportFlags), FALSE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Question()}));

  m_shown.clear();
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), 0x30001), FALSE);
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), 1), FALSE);
  EXPECT_TRUE(m_shown.empty());
}

TEST_F(WriteInterception, AuthorityCertificateWithoutKeyIsLeftSilentlyToTheNextStore) {
  Imported authority(0x06, 0);  // keyCertSign, cRLSign
  ASSERT_NE(authority.Get(), nullptr);
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, authority.Get(), kImportFlags), FALSE);
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, authority.Get(), 0x30001), FALSE);
  EXPECT_TRUE(m_shown.empty());
}

TEST_F(WriteInterception, UnsupportedAlgorithmAndMissingKeyUsageAreErrors) {
  Imported sha256(0xA0, CRYPT_EXPORTABLE, EVP_sha256());
  Script({"ok"});
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, sha256.Get(), kImportFlags), FALSE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Error(7)}));

  m_shown.clear();
  Imported noUsage(-1, CRYPT_EXPORTABLE);
  Script({"ok"});
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, noUsage.Get(), kImportFlags), FALSE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Error(10)}));
}

TEST_F(WriteInterception, NoKeepsTheSoftwareKeyAndTouchesNoCard) {
  InsertCard();
  Imported certificate(0xA0, CRYPT_EXPORTABLE);
  Script({"no"});
  fakepcsc::ClearTrace();
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), kImportFlags), FALSE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Question()}));
  EXPECT_EQ(fakepcsc::TransmitCount(), 0u);
  EXPECT_TRUE(certificate.KeyContainerExists());
}

TEST_F(WriteInterception, EveryReferenceTakenIsNotice14AndNothingWritten) {
  std::vector<std::uint8_t> taken;
  for (int r = 32; r <= 255; ++r) taken.push_back(static_cast<std::uint8_t>(r));
  auto card = InsertCard(taken);
  Imported certificate(0xA0, CRYPT_EXPORTABLE);
  Script({"yes", "1234", "ok"});
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), kImportFlags), FALSE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Question(), "pin", Notice(14)}));
  EXPECT_TRUE(card->Keys().empty());
  EXPECT_TRUE(certificate.KeyContainerExists());
}

TEST_F(WriteInterception, WrongPinIsNotice11) {
  auto card = InsertCard();
  Imported certificate(0xA0, CRYPT_EXPORTABLE);
  Script({"yes", "9999", "ok"});
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), kImportFlags), FALSE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Question(), "pin", Notice(11)}));
  EXPECT_TRUE(card->Keys().empty());
}

TEST_F(WriteInterception, SuccessGoesUnderTheFirstFreeReferenceAndDeletesTheSoftwareKey) {
  auto card = InsertCard({32});
  Imported certificate(0xA0, CRYPT_EXPORTABLE);
  ASSERT_TRUE(certificate.KeyContainerExists());
  Script({"yes", "1234"});
  EXPECT_EQ(CertStoreProvWriteCertCallback(nullptr, certificate.Get(), kImportFlags), TRUE);
  EXPECT_EQ(m_shown, (std::vector<std::string>{Question(), "pin"}));
  ASSERT_TRUE(card->Key(33, cardsim::KeyRole::Exchange));
  EXPECT_TRUE(card->Key(33, cardsim::KeyRole::Exchange)->Consistent());
  EXPECT_TRUE(card->Key(33, cardsim::KeyRole::Signature));
  EXPECT_FALSE(card->Key(32, cardsim::KeyRole::Exchange));
  EXPECT_FALSE(certificate.KeyContainerExists());
}

}  // namespace
}  // namespace storeprov_test
