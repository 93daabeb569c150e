// The program as a person uses it: OrvelImportCertificate runs under the
// offscreen platform against the real pcscd with a virtual card in a vpcd
// reader; the autopilot fills its pages and presses its buttons. What the
// card holds afterwards is read back here.
#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>

#include "card/card_scope_guards.h"
#include "card/crypto_card.h"
#include "cardsim/pcscd_rig.h"
#include "common/module_instance.h"
#include "orvel_test/certificate_files.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/module_handle.h"
#include "platform/provider_registry.h"
#include "platform/user_state.h"
#include "test_pki.h"
#include "wizard_launch.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using cardsim::KeyRole;

constexpr char kPassword[] = "Contraseña de prueba";
constexpr char kPin[] = "4711";
constexpr std::array<std::uint8_t, 6> kSerial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};

Bytes BigEndianModulus(EVP_PKEY* key) {
  BIGNUM* n = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(key, "n", &n), 1);
  Bytes out(128);
  BN_bn2binpad(n, out.data(), 128);
  BN_free(n);
  return out;
}

// The records the installation appends, byte for byte.
Bytes PrivateKeyRecord(std::uint8_t reference, const Bytes& id) {
  Bytes record = {0x30, 0x53, 0x30, 0x06, 0x14, 0x00, 0x03,
                  0x02, 0x06, 0xC0, 0x30, 0x29, 0x04, 0x14};
  record.insert(record.end(), id.begin(), id.end());
  const Bytes rest = {0x03, 0x03, 0x06, 0x64,      0x00, 0x01, 0x01, 0xFF, 0x03, 0x02, 0x03,
                      0x98, 0x02, 0x01, reference, 0x18, 0x00, 0x80, 0x00, 0xA0, 0x02, 0x30,
                      0x00, 0xA1, 0x1A, 0x30,      0x15, 0x04, 0x0C, 0x5C, 0x33, 0x46, 0x31,
                      0x31, 0x5C, 0x33, 0x46,      0x37, 0x37, 0x5C, 0x00, 0x02, 0x01, 0x00,
                      0x80, 0x02, 0x04, 0x18,      0x02, 0x01, 0x00};
  record.insert(record.end(), rest.begin(), rest.end());
  return record;
}

Bytes PublicKeyRecord(std::uint8_t reference, const Bytes& id, std::uint16_t roleWord) {
  Bytes record = PrivateKeyRecord(reference, id);
  record[9] = 0x40;
  record[37] = static_cast<std::uint8_t>(roleWord >> 8);
  record[38] = static_cast<std::uint8_t>(roleWord & 0xFF);
  record[45] = 0x48;
  record[72] = 0x38;
  return record;
}

class EndToEnd : public testpki::UserDirTest {
 protected:
  void SetUp() override {
    UserDirTest::SetUp();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ModuleInstance = platform::ProgramModule();
    ASSERT_TRUE(orvel_test::RegisterCardProvider());
    ASSERT_TRUE(orvel_test::RegisterCardType());
    cardsim::CardSpec spec;
    spec.serial = kSerial;
    spec.pin = kPin;
    m_card = cardsim::VirtualCard::MakeFresh(spec);
    m_rig = std::make_unique<cardsim::PcscdRig>(std::vector{m_card});
    m_rig->Start();
  }
  void TearDown() override {
    m_rig.reset();
    UserDirTest::TearDown();
  }

  wizard_launch::WizardRun Run(const std::string& pfxFile) const {
    const auto bin = wizard_launch::ProgramDirectory();
    wizard_launch::WizardRun run;
    run.program = bin / "OrvelImportCertificate";
    run.autopilot = bin / "liborvel_wizard_autopilot.so";
    run.file = pfxFile;
    run.password = kPassword;
    run.pin = kPin;
    run.log = m_dir / "autopilot.log";
    return run;
  }

  std::shared_ptr<cardsim::VirtualCard> m_card;
  std::unique_ptr<cardsim::PcscdRig> m_rig;
};

TEST_F(EndToEnd, WizardPutsThePfxKeyAndCertificateOnTheCard) {
  EVP_PKEY* key = testpki::Key(1024, 0);
  testpki::CertSpec certSpec(key);
  certSpec.keyUsage = 0xA0;  // digital signature and key encipherment: both roles
  certSpec.commonName = "Usuaria de prueba";
  auto certificate = testpki::MakeCert(certSpec);
  testpki::PfxSpec pfxSpec(key, certificate.get());
  pfxSpec.password = kPassword;
  const auto pfxFile = m_dir / "usuaria.pfx";
  const Bytes pfx = testpki::MakePfx(pfxSpec);
  std::ofstream(pfxFile, std::ios::binary)
      .write(reinterpret_cast<const char*>(pfx.data()), static_cast<std::streamsize>(pfx.size()));

  const wizard_launch::WizardRun run = Run(pfxFile.string());
  const wizard_launch::WizardExit exit = wizard_launch::RunWizard(run);
  const std::vector<std::string> log = wizard_launch::ReadLog(run.log);
  for (const std::string& line : log) std::printf("  autopilot: %s\n", line.c_str());
  ASSERT_TRUE(exit.exited);
  EXPECT_EQ(exit.code, 0);

  // The person saw the PIN dialog once and the summary, nothing else.
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("pin ", 0) == 0; }),
            1);
  const std::string summary =
      "message\tInformación\tasterisk\t"
      "La importación del certificado a la tarjeta Orvel se ha realizado correctamente.";
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& l) { return l.rfind("message", 0) == 0; }),
            1);
  EXPECT_NE(std::find(log.begin(), log.end(), summary), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "finished"), log.end());

  // The key, in both roles, equal to the PFX's and consistent.
  const Bytes modulus = BigEndianModulus(key);
  for (KeyRole role : {KeyRole::Exchange, KeyRole::Signature}) {
    const auto stored = m_card->Key(0x20, role);
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->Consistent());
    EXPECT_EQ(stored->modulus, modulus);
    EXPECT_EQ(stored->exponent, (Bytes{0x01, 0x00, 0x01}));
  }
  EXPECT_EQ(m_card->Keys().size(), 2u);

  // The two 85-byte records, and nothing after them.
  Bytes id(SHA_DIGEST_LENGTH);
  SHA1(modulus.data(), modulus.size(), id.data());
  const auto prkdf = m_card->ReadFile({0x5015, 0x6001});
  const auto pukdf = m_card->ReadFile({0x5015, 0x6002});
  ASSERT_TRUE(prkdf && pukdf);
  EXPECT_EQ(Bytes(prkdf->begin(), prkdf->begin() + 85), PrivateKeyRecord(0x20, id));
  EXPECT_EQ(Bytes(pukdf->begin(), pukdf->begin() + 85), PublicKeyRecord(0x20, id, 0x6400));
  EXPECT_NE((*prkdf)[85], 0x30);
  EXPECT_NE((*pukdf)[85], 0x30);

  // The certificate, read back as the store provider reads it.
  std::vector<int> results;
  const auto entries = orvel_test::ReadCardCertificates(&results);
  ASSERT_EQ(results, (std::vector<int>{1, 0}));
  EXPECT_EQ(entries[0].certificate, testpki::Der(certificate.get()));
  EXPECT_EQ(entries[0].containerName, "0A0B0C0D0E0F640020\\3F11\\3F77\\");

  // No software copy of the key is left.
  const auto keys = platform::UserStateDir() / "keys";
  EXPECT_TRUE(!std::filesystem::exists(keys) || std::filesystem::is_empty(keys));
}

TEST_F(EndToEnd, CancellingTheWizardEndsTheProgramWithoutTouchingTheCard) {
  // A file the autopilot cannot get past the file page with: it cancels.
  const auto notPfx = m_dir / "texto.pfx";
  std::ofstream(notPfx) << "no es un PFX";
  const wizard_launch::WizardRun run = Run(notPfx.string());
  const wizard_launch::WizardExit exit = wizard_launch::RunWizard(run);
  ASSERT_TRUE(exit.exited);
  EXPECT_EQ(exit.code, 0);
  const std::vector<std::string> log = wizard_launch::ReadLog(run.log);
  EXPECT_NE(
      std::find(log.begin(), log.end(), "message\tError\thand\tEl fichero no es un PFX válido"),
      log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "stopped: not on the password page"), log.end());
  EXPECT_TRUE(m_card->Keys().empty());
  EXPECT_EQ(m_card->CommandCount(), 0u);
}

}  // namespace
