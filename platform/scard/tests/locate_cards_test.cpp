// SCardLocateCardsA against the fake resource manager and its virtual cards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cardsim/fake_pcsc.h"
#include "orvel_test/fake_readers.h"
#include "orvel_test/registration.h"
#include "platform/card_database.h"
#include "platform/handle_guards.h"
#include "platform/winscard_ext.h"
#include "platform_test/scoped_user_dir.h"

namespace {

class LocateCards : public ::testing::Test {
 protected:
  void SetUp() override {
    fakepcsc::Reset();
    ASSERT_TRUE(orvel_test::RegisterCardType());
    ASSERT_EQ(m_context.Establish(SCARD_SCOPE_USER), SCARD_S_SUCCESS);
  }
  void TearDown() override {
    m_context.Release();
    fakepcsc::Reset();
  }

  void AddReaders(int count, const std::vector<int>& withCard) {
    orvel_test::AddReaders(count, withCard);
    m_names.clear();
    for (int i = 0; i < count; ++i) m_names.push_back("Lector " + std::to_string(i));
    m_states.assign(m_names.size(), SCARD_READERSTATEA{});
    for (std::size_t i = 0; i < m_names.size(); ++i) m_states[i].szReader = m_names[i].c_str();
  }

  LONG Locate(const char* cards) {
    return SCardLocateCardsA(m_context.Get(), cards, m_states.data(),
                             static_cast<DWORD>(m_states.size()));
  }

  platform_test::ScopedUserDir m_dir;
  CResourceManagerContext m_context;
  std::vector<std::string> m_names;
  std::vector<SCARD_READERSTATEA> m_states;
};

TEST_F(LocateCards, MarksOnlyReadersWhoseCardMatches) {
  AddReaders(3, {0, 2});
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  EXPECT_TRUE(m_states[0].dwEventState & SCARD_STATE_ATRMATCH);
  EXPECT_TRUE(m_states[0].dwEventState & SCARD_STATE_PRESENT);
  EXPECT_TRUE(m_states[0].dwEventState & SCARD_STATE_CHANGED);
  EXPECT_FALSE(m_states[1].dwEventState & SCARD_STATE_ATRMATCH);
  EXPECT_TRUE(m_states[1].dwEventState & SCARD_STATE_EMPTY);
  EXPECT_TRUE(m_states[2].dwEventState & SCARD_STATE_ATRMATCH);
  const auto atr = cardsim::VirtualCard::Atr();
  ASSERT_EQ(m_states[2].cbAtr, atr.size());
  EXPECT_TRUE(std::equal(atr.begin(), atr.end(), m_states[2].rgbAtr));
}

TEST_F(LocateCards, ACardOfAnotherAtrDoesNotMatch) {
  AddReaders(1, {0});
  auto other = cardsim::VirtualCard::Atr();
  other.back() ^= 0x01;
  ASSERT_TRUE(
      platform::RegisterCardType({"OTRA", other, std::vector<std::uint8_t>(other.size(), 0xFF)}));
  ASSERT_EQ(Locate("OTRA\0"), SCARD_S_SUCCESS);
  EXPECT_FALSE(m_states[0].dwEventState & SCARD_STATE_ATRMATCH);
  // Any of several names may match.
  ASSERT_EQ(Locate("OTRA\0DRAV-NOR\0"), SCARD_S_SUCCESS);
  EXPECT_TRUE(m_states[0].dwEventState & SCARD_STATE_ATRMATCH);
  // Under a mask that ignores the differing byte, it matches.
  std::vector<std::uint8_t> mask(other.size(), 0xFF);
  mask.back() = 0xFE;
  ASSERT_TRUE(platform::RegisterCardType({"OTRA", other, mask}));
  ASSERT_EQ(Locate("OTRA\0"), SCARD_S_SUCCESS);
  EXPECT_TRUE(m_states[0].dwEventState & SCARD_STATE_ATRMATCH);
}

TEST_F(LocateCards, UnknownCardNameIsAnError) {
  AddReaders(1, {0});
  EXPECT_EQ(Locate("NO-EXISTE\0"), SCARD_E_UNKNOWN_CARD);
  EXPECT_EQ(Locate("DRAV-NOR\0NO-EXISTE\0"), SCARD_E_UNKNOWN_CARD);
  EXPECT_EQ(SCardLocateCardsA(m_context.Get(), nullptr, m_states.data(), 1),
            SCARD_E_INVALID_PARAMETER);
}

TEST_F(LocateCards, SeventeenReadersAreAllLookedAt) {
  // More readers than one status query of the resource manager takes.
  AddReaders(17, {16});
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  for (int i = 0; i < 16; ++i) EXPECT_FALSE(m_states[i].dwEventState & SCARD_STATE_ATRMATCH) << i;
  EXPECT_TRUE(m_states[16].dwEventState & SCARD_STATE_ATRMATCH);
}

TEST_F(LocateCards, UnchangedStateIsNotFlaggedChanged) {
  AddReaders(1, {0});
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  m_states[0].dwCurrentState = m_states[0].dwEventState & ~static_cast<DWORD>(SCARD_STATE_CHANGED);
  ASSERT_EQ(Locate("DRAV-NOR\0"), SCARD_S_SUCCESS);
  EXPECT_FALSE(m_states[0].dwEventState & SCARD_STATE_CHANGED);
  EXPECT_TRUE(m_states[0].dwEventState & SCARD_STATE_ATRMATCH);
}

}  // namespace
