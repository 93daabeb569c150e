// Finding the card among the readers and connecting to it, with the
// selection dialog answered through the dialog hook.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTreeWidget>

#include <cstring>

#include "card/card_connection.h"
#include "card/card_scope_guards.h"
#include "card/crypto_card.h"
#include "fake_card_fixture.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/modal_dialog.h"

namespace card_test {
namespace {

std::vector<std::string> SplitMultiString(const char* multi) {
  std::vector<std::string> names;
  for (const char* p = multi; *p != '\0'; p += std::strlen(p) + 1) names.emplace_back(p);
  return names;
}

class CardConnection : public FakeCardTest {
 protected:
  // The dialog, when shown, is answered by picking `row` (Cancel when < 0).
  void AnswerDialogWith(int row) {
    platform::SetDialogShownHook([this, row](QDialog& dialog) {
      ++m_dialogsShown;
      m_dialogTitle = dialog.windowTitle().toStdString();
      auto* list = dialog.findChild<QTreeWidget*>("readerList");
      auto* buttons = dialog.findChild<QDialogButtonBox*>("buttons");
      if (list == nullptr || buttons == nullptr) {
        dialog.reject();
        return;
      }
      m_dialogRows = list->topLevelItemCount();
      if (row >= 0) {
        list->setCurrentItem(list->topLevelItem(row));
        buttons->button(QDialogButtonBox::Ok)->click();
      } else {
        buttons->button(QDialogButtonBox::Cancel)->click();
      }
    });
  }

  // The serial of the card behind a handle, read through the card object.
  static CardSerial SerialBehind(SCARDHANDLE handle) {
    CCryptoCard object(handle);
    CardSerial serial{};
    object.GetSerialNumber(&serial);
    return serial;
  }

  static cardsim::CardSpec SpecWithSerial(std::uint8_t last) {
    cardsim::CardSpec spec;
    spec.serial = {0x01, 0x02, 0x03, 0x04, 0x05, last};
    return spec;
  }

  int m_dialogsShown = 0;
  int m_dialogRows = 0;
  std::string m_dialogTitle;
};

TEST_F(CardConnection, CardNameIsAMultiString) {
  ASSERT_EQ(sizeof(kCardName), 10u);
  EXPECT_EQ(std::memcmp(kCardName, "DRAV-NOR\0\0", 10), 0);
}

TEST_F(CardConnection, EstablishFallsBackToSystemScope) {
  fakepcsc::FailEstablishContext(true, false);
  SCARDCONTEXT context = 0;
  ASSERT_TRUE(EstablishCardContext(&context));
  EXPECT_TRUE(ReleaseCardContext(context));

  fakepcsc::FailEstablishContext(true, true);
  EXPECT_FALSE(EstablishCardContext(&context));
  EXPECT_FALSE(EstablishCardContext(nullptr));
}

TEST_F(CardConnection, NoReadersNoCardNoDialog) {
  AnswerDialogWith(0);
  LPSTR list = reinterpret_cast<LPSTR>(1);
  EXPECT_FALSE(ListCardReaders(m_context.Get(), kCardName, &list));
  EXPECT_EQ(list, nullptr);

  auto readers = std::make_unique<char[]>(1);
  DWORD count = 99;
  EXPECT_FALSE(FindReadersWithCard(m_context.Get(), kCardName, &readers, &count));
  EXPECT_EQ(readers, nullptr);
  EXPECT_EQ(count, 0u);
  SCARDHANDLE handle = 0;
  EXPECT_FALSE(ConnectToCard(m_context.Get(), kCardName, &handle));
  EXPECT_EQ(m_dialogsShown, 0);
}

TEST_F(CardConnection, ReaderListFailureIsNoCard) {
  AddReaderWithCard("Lector 0");
  fakepcsc::FailListReaders(SCARD_E_NO_SERVICE);
  DWORD count = 5;
  EXPECT_FALSE(FindReadersWithCard(m_context.Get(), kCardName, nullptr, &count));
  EXPECT_EQ(count, 0u);
}

TEST_F(CardConnection, ListCardReadersGivesEveryReader) {
  fakepcsc::AddReader("Lector 0");
  AddReaderWithCard("Lector 1");
  LPSTR list = nullptr;
  ASSERT_TRUE(ListCardReaders(m_context.Get(), nullptr, &list));
  EXPECT_EQ(SplitMultiString(list), (std::vector<std::string>{"Lector 0", "Lector 1"}));
  SCardFreeMemory(m_context.Get(), list);
}

TEST_F(CardConnection, ReadersWithoutMatchingCardNoDialog) {
  fakepcsc::AddReader("Lector 0");
  fakepcsc::AddReader("Lector 1");
  AnswerDialogWith(0);
  SCARDHANDLE handle = 0;
  EXPECT_FALSE(ConnectToCard(m_context.Get(), kCardName, &handle));

  // A card is present but its ATR is not the one registered for the name.
  AddReaderWithCard("Lector 2");
  auto otherAtr = cardsim::VirtualCard::Atr();
  otherAtr[2] ^= 0xFF;
  ASSERT_TRUE(orvel_test::RegisterCardType(otherAtr));
  EXPECT_FALSE(FindReadersWithCard(m_context.Get(), kCardName, nullptr, nullptr));
  EXPECT_FALSE(ConnectToCard(m_context.Get(), kCardName, &handle));
  EXPECT_EQ(m_dialogsShown, 0);
}

TEST_F(CardConnection, UnregisteredCardNameFindsNothing) {
  AddReaderWithCard("Lector 0");
  ASSERT_TRUE(platform::ForgetCardType("DRAV-NOR"));
  EXPECT_FALSE(FindReadersWithCard(m_context.Get(), kCardName, nullptr, nullptr));
}

TEST_F(CardConnection, MatchingReadersFormAProperMultiString) {
  AddReaderWithCard("Lector A");
  fakepcsc::AddReader("Lector B");
  AddReaderWithCard("Lector C");
  std::unique_ptr<char[]> readers;
  DWORD count = 0;
  ASSERT_TRUE(FindReadersWithCard(m_context.Get(), kCardName, &readers, &count));
  EXPECT_EQ(count, 2u);
  const char expected[] = "Lector A\0Lector C\0";  // and the literal's own NUL
  EXPECT_EQ(std::memcmp(readers.get(), expected, sizeof expected), 0);
}

TEST_F(CardConnection, OneMatchIsConnectedDirectlySharedWithT0) {
  fakepcsc::AddReader("Lector 0");
  AddReaderWithCard("Lector 1", SpecWithSerial(0x11));
  AnswerDialogWith(-1);
  SCARDHANDLE handle = 0;
  ASSERT_TRUE(ConnectToCard(m_context.Get(), kCardName, &handle));
  m_handles.push_back(handle);
  EXPECT_EQ(m_dialogsShown, 0);
  EXPECT_EQ(SerialBehind(handle)[5], 0x11);  // T=0 commands go through
  // Shared: another connection is still possible.
  EXPECT_NE(Connect("Lector 1"), 0);
}

TEST_F(CardConnection, TwoMatchesAskTheUserWhoChoosesOne) {
  AddReaderWithCard("Lector 0", SpecWithSerial(0x10));
  AddReaderWithCard("Lector 1", SpecWithSerial(0x11));
  AnswerDialogWith(1);
  SCARDHANDLE handle = 0;
  ASSERT_TRUE(ConnectToCard(m_context.Get(), kCardName, &handle));
  m_handles.push_back(handle);
  EXPECT_EQ(m_dialogsShown, 1);
  EXPECT_EQ(m_dialogRows, 2);
  EXPECT_EQ(m_dialogTitle, "Introduzca tarjeta ORVEL");
  EXPECT_EQ(SerialBehind(handle)[5], 0x11);
}

TEST_F(CardConnection, TwoMatchesAndCancelIsFalse) {
  AddReaderWithCard("Lector 0");
  AddReaderWithCard("Lector 1");
  AnswerDialogWith(-1);
  SCARDHANDLE handle = 0x1234;
  EXPECT_FALSE(ConnectToCard(m_context.Get(), kCardName, &handle));
  EXPECT_EQ(m_dialogsShown, 1);
  EXPECT_EQ(handle, 0x1234);
}

TEST_F(CardConnection, SeventeenReaders) {
  for (int i = 0; i < 16; ++i) fakepcsc::AddReader("Lector " + std::to_string(i));
  AddReaderWithCard("Lector 16", SpecWithSerial(0x16));
  std::unique_ptr<char[]> readers;
  DWORD count = 0;
  ASSERT_TRUE(FindReadersWithCard(m_context.Get(), kCardName, &readers, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_STREQ(readers.get(), "Lector 16");
  SCARDHANDLE handle = 0;
  ASSERT_TRUE(ConnectToCard(m_context.Get(), kCardName, &handle));
  m_handles.push_back(handle);
  EXPECT_EQ(SerialBehind(handle)[5], 0x16);
}

TEST_F(CardConnection, CardHeldByAnotherProgramCannotBeConnected) {
  AddReaderWithCard("Lector 0");
  fakepcsc::SetHeldByOtherProgram("Lector 0", true);
  SCARDHANDLE handle = 0;
  EXPECT_FALSE(ConnectToCard(m_context.Get(), kCardName, &handle));
  EXPECT_FALSE(ConnectReader(m_context.Get(), "Lector 0", &handle));
}

TEST_F(CardConnection, DisconnectPowersDownAndEndsTheVerifiedPin) {
  auto card = AddReaderWithCard("Lector 0");
  SCARDHANDLE handle = 0;
  ASSERT_TRUE(ConnectReader(m_context.Get(), "Lector 0", &handle));
  {
    CCryptoCard object(handle);
    ASSERT_EQ(object.VerifyPin("1234"), SCARD_S_SUCCESS);
  }
  EXPECT_TRUE(card->PinVerified());
  EXPECT_TRUE(DisconnectCard(handle, SCARD_UNPOWER_CARD));
  EXPECT_FALSE(card->PinVerified());
  EXPECT_FALSE(DisconnectCard(handle, SCARD_UNPOWER_CARD));
}

TEST_F(CardConnection, ScopeGuardsReleaseCardAndContext) {
  auto card = AddReaderWithCard("Lector 0");
  {
    CCardContextGuard context;
    ASSERT_TRUE(context.Establish());
    CCardHandleGuard handle;
    ASSERT_TRUE(handle.Connect(context.Context(), kCardName));
    CCryptoCard object(handle.Card());
    ASSERT_EQ(object.VerifyPin("1234"), SCARD_S_SUCCESS);
    EXPECT_TRUE(card->PinVerified());
  }
  EXPECT_FALSE(card->PinVerified());  // unpowered on the way out
  // No connection is left: an exclusive one is possible.
  SCARDHANDLE exclusive = 0;
  DWORD protocol = 0;
  EXPECT_EQ(SCardConnect(m_context.Get(), "Lector 0", SCARD_SHARE_EXCLUSIVE, SCARD_PROTOCOL_T0,
                         &exclusive, &protocol),
            SCARD_S_SUCCESS);
  m_handles.push_back(exclusive);
}

TEST(ReaderStateList, BuildCopiesEveryNameAndClearEmpties) {
  CReaderStateList list;
  std::string names("Lector 0\0Lector largo 1\0", 25);
  names.push_back('\0');
  list.Build(names.c_str());
  ASSERT_EQ(list.Count(), 2);
  EXPECT_STREQ(list.States()[1].szReader, "Lector largo 1");
  EXPECT_NE(list.States()[0].szReader, names.c_str());  // a copy of its own
  names.assign(names.size(), 'x');
  EXPECT_STREQ(list.States()[0].szReader, "Lector 0");
  EXPECT_EQ(list.States()[0].dwCurrentState, 0u);
  EXPECT_EQ(list.States()[0].dwEventState, 0u);
  EXPECT_EQ(list.States()[0].cbAtr, 0u);

  list.Build("\0");
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.States(), nullptr);
  list.Build(nullptr);
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace card_test
