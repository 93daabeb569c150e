// The card library through the real PC/SC stack: a private pcscd with two
// vpcd readers holding virtual cards.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdlib>
#include <cstring>

#include "card/card_connection.h"
#include "card/card_scope_guards.h"
#include "card/crypto_card.h"
#include "cardsim/pcscd_rig.h"
#include "common/module_instance.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/modal_dialog.h"
#include "platform/module_handle.h"
#include "platform_test/scoped_user_dir.h"
#include "support/card_records.h"

namespace card_test {
namespace {

std::shared_ptr<cardsim::VirtualCard> CardWithSerial(std::uint8_t last) {
  cardsim::CardSpec spec;
  spec.serial = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, last};
  return cardsim::VirtualCard::MakeFresh(spec);
}

void PutKeyAndCertificate(cardsim::VirtualCard& card, std::uint8_t reference) {
  const KeyId id = MakeKeyId(0x70);
  auto write = [&card](std::uint16_t fid, const Bytes& records) {
    const auto current = card.ReadFile({kApplicationDf, fid});
    ASSERT_TRUE(current);
    ASSERT_TRUE(card.WriteFile({kApplicationDf, fid}, DirectoryFile(records, current->size())));
  };
  write(0x6001, PrivateKeyRecord(reference, id));
  write(0x6002, PublicKeyRecord(reference, id));
  write(0x6004, CertificateRecord(IdElement(id), "\\3F11\\0101"));
}

class ThroughPcscd : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ASSERT_TRUE(orvel_test::RegisterCardType());
    ModuleInstance = platform::ProgramModule();
  }
  void TearDown() override { platform::SetDialogShownHook({}); }

  void ChooseRow(int row) {
    platform::SetDialogShownHook([this, row](QDialog& dialog) {
      ++m_shown;
      auto* list = dialog.findChild<QTreeWidget*>("readerList");
      auto* buttons = dialog.findChild<QDialogButtonBox*>("buttons");
      if (list == nullptr || buttons == nullptr || list->topLevelItemCount() <= row) {
        dialog.reject();
        return;
      }
      for (int i = 0; i < list->topLevelItemCount(); ++i) {
        m_rows.push_back(list->topLevelItem(i)->text(0).toStdString());
      }
      list->setCurrentItem(list->topLevelItem(row));
      buttons->button(QDialogButtonBox::Ok)->click();
    });
  }

  platform_test::ScopedUserDir m_userDir;
  int m_shown = 0;
  std::vector<std::string> m_rows;
};

TEST_F(ThroughPcscd, TwoCardsChooseOneVerifyReadSerialAndScan) {
  auto first = CardWithSerial(0x01);
  auto second = CardWithSerial(0x02);
  PutKeyAndCertificate(*second, 33);
  cardsim::PcscdRig rig({first, second});
  rig.Start();

  CCardContextGuard context;
  ASSERT_TRUE(context.Establish());
  std::unique_ptr<char[]> readers;
  DWORD count = 0;
  ASSERT_TRUE(FindReadersWithCard(context.Context(), kCardName, &readers, &count));
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(readers.get(), rig.ReaderName(0).c_str());
  EXPECT_STREQ(readers.get() + rig.ReaderName(0).size() + 1, rig.ReaderName(1).c_str());

  ChooseRow(1);
  CCardHandleGuard card;
  ASSERT_TRUE(card.Connect(context.Context(), kCardName));
  EXPECT_EQ(m_shown, 1);
  EXPECT_EQ(m_rows, rig.ReaderNames());

  CCryptoCard object(card.Card());
  EXPECT_EQ(object.VerifyPin("0000"), static_cast<LONG>(0x80100004));
  EXPECT_EQ(object.VerifyPin("1234"), SCARD_S_SUCCESS);
  EXPECT_TRUE(second->PinVerified());
  EXPECT_FALSE(first->PinVerified());

  CardSerial serial{};
  ASSERT_EQ(object.GetSerialNumber(&serial), SCARD_S_SUCCESS);
  EXPECT_EQ(serial, (CardSerial{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x02}));

  KeyReferenceMap map{};
  ASSERT_EQ(object.ScanKeyReferences(&map), 1);
  EXPECT_EQ(map[33], 0x17);
  int marked = 0;
  for (BYTE b : map) marked += b != 0;
  EXPECT_EQ(marked, 1);
}

TEST_F(ThroughPcscd, OneCardIsConnectedWithoutDialogAndOthersAreNotFound) {
  auto only = CardWithSerial(0x05);
  cardsim::PcscdRig rig({only});  // the second reader stays empty
  rig.Start();
  ChooseRow(0);

  SCARDCONTEXT context = 0;
  ASSERT_TRUE(EstablishCardContext(&context));
  SCARDHANDLE handle = 0;
  ASSERT_TRUE(ConnectToCard(context, kCardName, &handle));
  EXPECT_EQ(m_shown, 0);
  {
    CCryptoCard object(handle);
    EXPECT_EQ(object.VerifyPin("1234"), SCARD_S_SUCCESS);
    CardSerial serial{};
    ASSERT_EQ(object.GetSerialNumber(&serial), SCARD_S_SUCCESS);
    EXPECT_EQ(serial[5], 0x05);
    KeyReferenceMap map{};
    EXPECT_EQ(object.ScanKeyReferences(&map), 1);
    for (BYTE b : map) ASSERT_EQ(b, 0);
  }
  EXPECT_TRUE(DisconnectCard(handle, SCARD_UNPOWER_CARD));

  // Registered under another ATR, the same card is no longer found.
  auto otherAtr = cardsim::VirtualCard::Atr();
  otherAtr.back() ^= 0x01;
  ASSERT_TRUE(orvel_test::RegisterCardType(otherAtr));
  EXPECT_FALSE(ConnectToCard(context, kCardName, &handle));
  EXPECT_EQ(m_shown, 0);
  EXPECT_TRUE(ReleaseCardContext(context));
}

}  // namespace
}  // namespace card_test
