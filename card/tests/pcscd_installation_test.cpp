// The installation and reading the certificate back through the real PC/SC
// stack: a private pcscd with vpcd readers, one holding a virtual card, and
// the card's provider reaching the card through the same daemon.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cardsim/pcscd_rig.h"
#include "common/module_instance.h"
#include "installation_support.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/module_handle.h"
#include "platform_test/scoped_user_dir.h"
#include "support/card_records.h"
#include "test_pki.h"

namespace card_test {
namespace {

class InstallationThroughPcscd : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_TRUE(orvel_test::RegisterCardType());
    ASSERT_TRUE(orvel_test::RegisterCardProvider());
    ModuleInstance = platform::ProgramModule();
    m_spec.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  }

  // The wizard's installation on m_card in the rig's first reader.
  bool Install() {
    cardsim::PcscdRig rig({m_card});
    rig.Start();
    const KeyMaterial material(testpki::Key(1024));
    return KeyInstallation(material.blob, material.identifier, 0x6400, material.certificate,
                           kWizardInstallation, m_ui);
  }

  platform_test::ScopedUserDir m_userDir;
  cardsim::CardSpec m_spec;
  std::shared_ptr<cardsim::VirtualCard> m_card;
  RecordingUi m_ui;
};

TEST_F(InstallationThroughPcscd, RoundTripFromAPfxBackToTheCertificate) {
  m_card = cardsim::VirtualCard::MakeFresh(m_spec);
  cardsim::PcscdRig rig({m_card});
  rig.Start();

  CheckInstallationRoundTrip(*m_card);
  EXPECT_FALSE(m_card->PinVerified()) << "the card is powered down at the end";
}

TEST_F(InstallationThroughPcscd, FullPrivateKeyDirectoryShowsNoSpaceAndKeepsTheKeyAt32) {
  // Reading past the PrKDF's end is refused; the key under 32 has its
  // record in the PuKDF only.
  m_spec.prkdfSize = 2 * 85;
  m_card = cardsim::VirtualCard::MakeFresh(m_spec);
  ASSERT_TRUE(m_card->WriteFile({0x5015, 0x6001}, Join({PrivateKeyRecord(33, MakeKeyId(33)),
                                                        PrivateKeyRecord(34, MakeKeyId(34))})));
  ASSERT_TRUE(m_card->WriteFile({0x5015, 0x6002}, PublicKeyRecord(32, MakeKeyId(32))));
  PlaceKeyPart(*m_card, 32);
  const auto keysBefore = m_card->Keys();

  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{34}));
  ASSERT_EQ(m_card->Keys().size(), 1u);
  EXPECT_EQ(m_card->Keys().begin()->second.exponent, keysBefore.begin()->second.exponent);
  EXPECT_TRUE(m_card->Keys().begin()->second.modulus.empty());
}

TEST_F(InstallationThroughPcscd, ShortChipInformationShowsCommunicationError) {
  m_card = cardsim::VirtualCard::MakeFresh(m_spec);
  ShortenChipInfo(*m_card, 12);
  EXPECT_FALSE(Install());
  EXPECT_EQ(m_ui.messages, (std::vector<UINT>{33}));
  EXPECT_TRUE(m_card->Keys().empty());
  EXPECT_EQ(m_card->ReadFile({0x5015, 0x6001}).value()[0], 0x00);
}

}  // namespace
}  // namespace card_test
