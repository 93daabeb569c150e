// register-card NAME [--reader READER] against the fake resource manager: the
// whole ATR of the card in the reader, the choice among several readers, and
// every refusal, which leaves the card database as it was.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cardsim/fake_pcsc.h"
#include "cardsim/virtual_card.h"
#include "platform/card_database.h"
#include "platform_test/scoped_user_dir.h"
#include "tool_commands.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Three readers; cards in "Lector A" and "Lector C".
class RegisterCardInReader : public ::testing::Test {
 protected:
  void SetUp() override {
    fakepcsc::Reset();
    for (const char* name : {"Lector A", "Lector B", "Lector C"}) fakepcsc::AddReader(name);
    fakepcsc::InsertCard("Lector A", cardsim::VirtualCard::MakeFresh({}));
    fakepcsc::InsertCard("Lector C", cardsim::VirtualCard::MakeFresh({}));
  }
  void TearDown() override { fakepcsc::Reset(); }

  int Run(const std::string& name, const std::string* reader, const std::string& typed = "") {
    std::istringstream in(typed);
    m_out.str("");
    m_err.str("");
    return tool::RegisterCardInReader(name, reader, in, m_out, m_err);
  }

  platform_test::ScopedUserDir m_dir;
  std::ostringstream m_out, m_err;
};

TEST_F(RegisterCardInReader, TakesTheWholeAtrOfTheNamedReader) {
  const std::string reader = "Lector C";
  ASSERT_EQ(Run("DRAV-NOR", &reader), 0) << m_err.str();
  const auto type = platform::FindCardType("DRAV-NOR");
  ASSERT_TRUE(type);
  EXPECT_EQ(type->atr, cardsim::VirtualCard::Atr());
  EXPECT_EQ(type->mask, Bytes(type->atr.size(), 0xFF));
  EXPECT_EQ(m_out.str(), "DRAV-NOR: ATR 3B08445241562D4E4F52 mask FFFFFFFFFFFFFFFFFFFF\n");
}

TEST_F(RegisterCardInReader, ListsTheReadersHoldingCardsAndReadsTheChoice) {
  ASSERT_EQ(Run("DRAV-NOR", nullptr, "2\n"), 0) << m_err.str();
  EXPECT_NE(m_out.str().find("  1) Lector A  ATR 3B08445241562D4E4F52\n"
                             "  2) Lector C  ATR 3B08445241562D4E4F52\n"
                             "Reader number (1-2): "),
            std::string::npos)
      << m_out.str();
  EXPECT_TRUE(platform::FindCardType("DRAV-NOR"));

  // With one card about, nothing is asked.
  fakepcsc::RemoveCard("Lector A");
  ASSERT_EQ(Run("OTRA", nullptr), 0) << m_err.str();
  EXPECT_EQ(m_out.str().find("Reader number"), std::string::npos);
  EXPECT_TRUE(platform::FindCardType("OTRA"));
}

struct Refusal {
  const char* name;
  const char* reader;  // nullptr: none given
  const char* typed;
  const char* message;
};

class RegisterCardRefusals : public RegisterCardInReader,
                             public ::testing::WithParamInterface<Refusal> {};

TEST_P(RegisterCardRefusals, ExitTwoWithAClearMessageAndNothingWritten) {
  const Refusal& r = GetParam();
  const std::string reader = r.reader ? r.reader : "";
  EXPECT_EQ(Run(r.name, r.reader ? &reader : nullptr, r.typed), 2);
  EXPECT_NE(m_err.str().find(r.message), std::string::npos) << m_err.str();
  EXPECT_TRUE(platform::ListCardTypes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, RegisterCardRefusals,
    ::testing::Values(Refusal{"DRAV-NOR", "Lector Z", "", "no reader named \"Lector Z\""},
                      Refusal{"DRAV-NOR", "Lector B", "", "no card in the reader \"Lector B\""},
                      Refusal{"", "Lector A", "", "a card name must not be empty"},
                      Refusal{"DRAV\tNOR", "Lector A", "", "control characters"},
                      Refusal{"DRAV-NOR", nullptr, "3\n", "a number from 1 to 2"},
                      Refusal{"DRAV-NOR", nullptr, "0\n", "a number from 1 to 2"},
                      Refusal{"DRAV-NOR", nullptr, "1x\n", "a number from 1 to 2"},
                      Refusal{"DRAV-NOR", nullptr, "", "a number from 1 to 2"}));

TEST_F(RegisterCardInReader, NoCardAnywhereOrNoReaders) {
  fakepcsc::RemoveCard("Lector A");
  fakepcsc::RemoveCard("Lector C");
  EXPECT_EQ(Run("DRAV-NOR", nullptr), 2);
  EXPECT_NE(m_err.str().find("no card in any reader"), std::string::npos);
  fakepcsc::Reset();
  const std::string reader = "Lector A";
  EXPECT_EQ(Run("DRAV-NOR", &reader), 2);
  EXPECT_NE(m_err.str().find("no readers are connected"), std::string::npos) << m_err.str();
  fakepcsc::FailEstablishContext(true, true);
  EXPECT_EQ(Run("DRAV-NOR", &reader), 1);
  EXPECT_TRUE(platform::ListCardTypes().empty());
}

}  // namespace
