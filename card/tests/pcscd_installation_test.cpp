// The installation and reading the certificate back through the real PC/SC
// stack: a private pcscd with vpcd readers, one holding a virtual card, and
// the card's provider reaching the card through the same daemon.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cardsim/pcscd_rig.h"
#include "common/module_instance.h"
#include "installation_support.h"
#include "platform/card_database.h"
#include "platform/module_handle.h"
#include "platform_test/scoped_user_dir.h"

namespace card_test {
namespace {

TEST(InstallationThroughPcscd, RoundTripFromAPfxBackToTheCertificate) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  platform_test::ScopedUserDir userDir;
  const Bytes atr = cardsim::VirtualCard::Atr();
  ASSERT_TRUE(platform::RegisterCardType({"DRAV-NOR", atr, Bytes(atr.size(), 0xFF)}));
  RegisterCardProvider();
  ModuleInstance = platform::ProgramModule();

  cardsim::CardSpec spec;
  spec.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  auto card = cardsim::VirtualCard::MakeFresh(spec);
  cardsim::PcscdRig rig({card});
  rig.Start();

  CheckInstallationRoundTrip(*card);
  EXPECT_FALSE(card->PinVerified()) << "the card is powered down at the end";
}

}  // namespace
}  // namespace card_test
