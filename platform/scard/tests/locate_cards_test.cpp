// SCardLocateCardsA against the fake resource manager and its virtual cards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardsim/fake_pcsc.h"
#include "orvel_test/fake_readers.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/winscard_ext.h"
#include "platform_test/scoped_user_dir.h"

namespace {

class LocateCards : public ::testing::Test {
 protected:
  void SetUp() override {
    fakepcsc::Reset();
    ASSERT_TRUE(orvel_test::RegisterCardType());
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_), SCARD_S_SUCCESS);
  }
  void TearDown() override {
    SCardReleaseContext(context_);
    fakepcsc::Reset();
  }

  void AddReaders(int count, const std::vector<int>& withCard) {
    orvel_test::AddReaders(count, withCard);
    names_.clear();
    for (int i = 0; i < count; ++i) names_.push_back("Lector " + std::to_string(i));
    states_.assign(names_.size(), SCARD_READERSTATEA{});
    for (std::size_t i = 0; i < names_.size(); ++i) states_[i].szReader = names_[i].c_str();
  }

  LONG Locate(const char* cards) {
    return SCardLocateCardsA(context_, cards, states_.data(), static_cast<DWORD>(states_.size()));
  }

  platform_test::ScopedUserDir dir_;
  SCARDCONTEXT context_ = 0;
  std::vector<std::string> names_;
  std::vector<SCARD_READERSTATEA> states_;
};

TEST_F(LocateCards, MarksOnlyReadersWhoseCardMatches) {
  AddReaders(3, {0, 2});
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  EXPECT_TRUE(states_[0].dwEventState & SCARD_STATE_ATRMATCH);
  EXPECT_TRUE(states_[0].dwEventState & SCARD_STATE_PRESENT);
  EXPECT_TRUE(states_[0].dwEventState & SCARD_STATE_CHANGED);
  EXPECT_FALSE(states_[1].dwEventState & SCARD_STATE_ATRMATCH);
  EXPECT_TRUE(states_[1].dwEventState & SCARD_STATE_EMPTY);
  EXPECT_TRUE(states_[2].dwEventState & SCARD_STATE_ATRMATCH);
  const auto atr = cardsim::VirtualCard::Atr();
  ASSERT_EQ(states_[2].cbAtr, atr.size());
  EXPECT_TRUE(std::equal(atr.begin(), atr.end(), states_[2].rgbAtr));
}

TEST_F(LocateCards, ACardOfAnotherAtrDoesNotMatch) {
  AddReaders(1, {0});
  auto other = cardsim::VirtualCard::Atr();
  other.back() ^= 0x01;
  ASSERT_TRUE(platform::RegisterCardType({"OTRA", other, std::vector<std::uint8_t>(other.size(), 0xFF)}));
  ASSERT_EQ(Locate("OTRA\0"), SCARD_S_SUCCESS);
  EXPECT_FALSE(states_[0].dwEventState & SCARD_STATE_ATRMATCH);
  // Any of several names may match.
  ASSERT_EQ(Locate("OTRA\0DRAV-NOR\0"), SCARD_S_SUCCESS);
  EXPECT_TRUE(states_[0].dwEventState & SCARD_STATE_ATRMATCH);
  // Under a mask that ignores the differing byte, it matches.
  std::vector<std::uint8_t> mask(other.size(), 0xFF);
  mask.back() = 0xFE;
  ASSERT_TRUE(platform::RegisterCardType({"OTRA", other, mask}));
  ASSERT_EQ(Locate("OTRA\0"), SCARD_S_SUCCESS);
  EXPECT_TRUE(states_[0].dwEventState & SCARD_STATE_ATRMATCH);
}

TEST_F(LocateCards, UnknownCardNameIsAnError) {
  AddReaders(1, {0});
  EXPECT_EQ(Locate("NO-EXISTE\0"), SCARD_E_UNKNOWN_CARD);
  EXPECT_EQ(Locate("DRAV-NOR\0NO-EXISTE\0"), SCARD_E_UNKNOWN_CARD);
  EXPECT_EQ(SCardLocateCardsA(context_, nullptr, states_.data(), 1), SCARD_E_INVALID_PARAMETER);
}

TEST_F(LocateCards, SeventeenReadersAreAllLookedAt) {
  // More readers than one status query of the resource manager takes.
  AddReaders(17, {16});
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  for (int i = 0; i < 16; ++i) EXPECT_FALSE(states_[i].dwEventState & SCARD_STATE_ATRMATCH) << i;
  EXPECT_TRUE(states_[16].dwEventState & SCARD_STATE_ATRMATCH);
}

TEST_F(LocateCards, UnchangedStateIsNotFlaggedChanged) {
  AddReaders(1, {0});
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  states_[0].dwCurrentState = states_[0].dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  EXPECT_FALSE(states_[0].dwEventState & SCARD_STATE_CHANGED);
  EXPECT_TRUE(states_[0].dwEventState & SCARD_STATE_ATRMATCH);
}

}  // namespace
