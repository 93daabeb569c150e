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
    spec_.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  }

  // The wizard's installation on card_ in the rig's first reader.
  bool Install() {
    cardsim::PcscdRig rig({card_});
    rig.Start();
    const KeyMaterial material(testpki::Key(1024));
    return KeyInstallation(material.blob, material.identifier, 0x6400, material.certificate,
                           kWizardInstallation, ui_);
  }

  platform_test::ScopedUserDir userDir_;
  cardsim::CardSpec spec_;
  std::shared_ptr<cardsim::VirtualCard> card_;
  RecordingUi ui_;
};

TEST_F(InstallationThroughPcscd, RoundTripFromAPfxBackToTheCertificate) {
  card_ = cardsim::VirtualCard::MakeFresh(spec_);
  cardsim::PcscdRig rig({card_});
  rig.Start();

  CheckInstallationRoundTrip(*card_);
  EXPECT_FALSE(card_->PinVerified()) << "the card is powered down at the end";
}

TEST_F(InstallationThroughPcscd, FullPrivateKeyDirectoryShowsNoSpaceAndKeepsTheKeyAt32) {
  // Reading past the PrKDF's end is refused; the key under 32 has its
  // record in the PuKDF only.
  spec_.prkdfSize = 2 * 85;
  card_ = cardsim::VirtualCard::MakeFresh(spec_);
  ASSERT_TRUE(card_->WriteFile({0x5015, 0x6001}, Join({PrivateKeyRecord(33, MakeKeyId(33)),
                                                       PrivateKeyRecord(34, MakeKeyId(34))})));
  ASSERT_TRUE(card_->WriteFile({0x5015, 0x6002}, PublicKeyRecord(32, MakeKeyId(32))));
  PlaceKeyPart(*card_, 32);
  const auto keysBefore = card_->Keys();

  EXPECT_FALSE(Install());
  EXPECT_EQ(ui_.messages, (std::vector<UINT>{34}));
  ASSERT_EQ(card_->Keys().size(), 1u);
  EXPECT_EQ(card_->Keys().begin()->second.exponent, keysBefore.begin()->second.exponent);
  EXPECT_TRUE(card_->Keys().begin()->second.modulus.empty());
}

TEST_F(InstallationThroughPcscd, ShortChipInformationShowsCommunicationError) {
  card_ = cardsim::VirtualCard::MakeFresh(spec_);
  ShortenChipInfo(*card_, 12);
  EXPECT_FALSE(Install());
  EXPECT_EQ(ui_.messages, (std::vector<UINT>{33}));
  EXPECT_TRUE(card_->Keys().empty());
  EXPECT_EQ(card_->ReadFile({0x5015, 0x6001}).value()[0], 0x00);
}

}  // namespace
}  // namespace card_test
