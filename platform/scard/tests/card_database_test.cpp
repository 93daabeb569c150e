// The card database: registering, replacing and forgetting card types, and
// how an ATR matches under a mask.
#include <gtest/gtest.h>

#include <fstream>

#include "common/hex_text.h"
#include "platform/card_database.h"
#include "platform/winscard_ext.h"
#include "platform_test/scoped_user_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(HexBytes, ParsesWithAndWithoutSeparators) {
  EXPECT_EQ(platform::ParseHexBytes("3B 8f:00ff"), (Bytes{0x3B, 0x8F, 0x00, 0xFF}));
  EXPECT_EQ(platform::ParseHexBytes(""), Bytes{});
  EXPECT_FALSE(platform::ParseHexBytes("3B8"));   // half a byte
  EXPECT_FALSE(platform::ParseHexBytes("3 B"));   // a digit alone
  EXPECT_FALSE(platform::ParseHexBytes("3G"));    // not hexadecimal
  EXPECT_EQ(HexText(Bytes{0x0A, 0xF0}), "0AF0");  // and back
}

TEST(CardDatabase, RegisterReplaceAndForget) {
  platform_test::ScopedUserDir dir;
  EXPECT_TRUE(platform::ListCardTypes().empty());

  ASSERT_TRUE(
      platform::RegisterCardType({"DRAV-NOR", {0x3B, 0x02, 0x14, 0x50}, {0xFF, 0xFF, 0xFF, 0xFF}}));
  ASSERT_TRUE(platform::RegisterCardType({"OTRA", {0x3B, 0x00}, {0xFF, 0x00}}));
  auto found = platform::FindCardType("DRAV-NOR");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->atr, (Bytes{0x3B, 0x02, 0x14, 0x50}));
  EXPECT_EQ(platform::ListCardTypes().size(), 2u);

  // A second registration of a name replaces its ATR and mask.
  ASSERT_TRUE(platform::RegisterCardType({"DRAV-NOR", {0x3B, 0x99}, {0xFF, 0xF0}}));
  found = platform::FindCardType("DRAV-NOR");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->atr, (Bytes{0x3B, 0x99}));
  EXPECT_EQ(found->mask, (Bytes{0xFF, 0xF0}));

  EXPECT_TRUE(platform::ForgetCardType("DRAV-NOR"));
  EXPECT_FALSE(platform::FindCardType("DRAV-NOR"));
  EXPECT_FALSE(platform::ForgetCardType("DRAV-NOR"));
  EXPECT_TRUE(platform::FindCardType("OTRA"));
}

// The system-wide database lies beneath the user's: the user's name hides it,
// forgetting uncovers it again, and it is never written.
TEST(CardDatabase, SystemDefaultsLieBeneathTheUsersOwn) {
  platform_test::ScopedUserDir dir;
  std::filesystem::create_directory(dir.SystemDir());
  const auto defaults = dir.SystemDir() / "smartcards.json";
  std::ofstream(defaults) << R"({"cards": {"DRAV-NOR": {"atr": "3B08", "mask": "FFFF"},)"
                             R"( "VIRTUAL": {"atr": "3B01"}}})";
  auto found = platform::FindCardType("DRAV-NOR");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->atr, (Bytes{0x3B, 0x08}));
  EXPECT_EQ(platform::FindCardType("VIRTUAL")->mask, (Bytes{0xFF, 0xFF}));

  ASSERT_TRUE(platform::RegisterCardType({"DRAV-NOR", {0x3B, 0x77, 0x01}, {0xFF, 0xFF, 0xFF}}));
  const auto list = platform::ListCardTypes();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].name, "DRAV-NOR");
  EXPECT_EQ(list[0].atr, (Bytes{0x3B, 0x77, 0x01}));
  EXPECT_EQ(list[1].name, "VIRTUAL");

  EXPECT_TRUE(platform::ForgetCardType("DRAV-NOR"));
  EXPECT_EQ(platform::FindCardType("DRAV-NOR")->atr, (Bytes{0x3B, 0x08}));
  EXPECT_FALSE(platform::ForgetCardType("VIRTUAL"));  // not the user's to forget
  EXPECT_TRUE(platform::FindCardType("VIRTUAL"));

  // A defaults directory that others may write to is not read.
  std::filesystem::permissions(dir.SystemDir(), std::filesystem::perms::others_write,
                               std::filesystem::perm_options::add);
  EXPECT_TRUE(platform::ListCardTypes().empty());
}

TEST(CardDatabase, RefusesMalformedCardTypes) {
  platform_test::ScopedUserDir dir;
  EXPECT_FALSE(platform::RegisterCardType({"", {0x3B}, {0xFF}}));
  EXPECT_FALSE(platform::RegisterCardType({"X", {}, {}}));
  EXPECT_FALSE(platform::RegisterCardType({"X", {0x3B, 0x00}, {0xFF}}));
  EXPECT_FALSE(platform::RegisterCardType({"X", Bytes(34, 0x3B), Bytes(34, 0xFF)}));
  EXPECT_TRUE(platform::ListCardTypes().empty());

  const BYTE atr[] = {0x3B, 0x00};
  EXPECT_EQ(SCardIntroduceCardTypeA(0, nullptr, nullptr, nullptr, 0, atr, nullptr, 2),
            SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(SCardIntroduceCardTypeA(0, "X", nullptr, nullptr, 0, atr, nullptr, 0),
            SCARD_E_INVALID_PARAMETER);
  EXPECT_EQ(SCardForgetCardTypeA(0, "X"), SCARD_E_UNKNOWN_CARD);
}

TEST(CardDatabase, IntroduceWithoutMaskComparesEveryBit) {
  platform_test::ScopedUserDir dir;
  const BYTE atr[] = {0x3B, 0x02, 0x14};
  ASSERT_EQ(SCardIntroduceCardTypeA(0, "X", nullptr, nullptr, 0, atr, nullptr, 3), SCARD_S_SUCCESS);
  const auto type = platform::FindCardType("X");
  ASSERT_TRUE(type);
  EXPECT_EQ(type->mask, (Bytes{0xFF, 0xFF, 0xFF}));
}

TEST(CardDatabase, CorruptFileReadsAsEmptyAndIsRewritten) {
  platform_test::ScopedUserDir dir;
  std::ofstream(dir.Path() / "smartcards.json") << "{ not json";
  EXPECT_TRUE(platform::ListCardTypes().empty());
  EXPECT_TRUE(platform::RegisterCardType({"X", {0x3B}, {0xFF}}));
  EXPECT_TRUE(platform::FindCardType("X"));
}

TEST(AtrMatch, MaskedBytesDecide) {
  const platform::CardType type{"X", {0x3B, 0x12, 0x34}, {0xFF, 0xF0, 0x00}};
  const BYTE same[] = {0x3B, 0x1F, 0x99};     // differs only under zero mask bits
  const BYTE differs[] = {0x3B, 0x22, 0x34};  // differs under the mask
  const BYTE longer[] = {0x3B, 0x12, 0x34, 0x00};
  EXPECT_TRUE(platform::AtrMatches(type, same, 3));
  EXPECT_FALSE(platform::AtrMatches(type, differs, 3));
  EXPECT_FALSE(platform::AtrMatches(type, longer, 4));
  EXPECT_FALSE(platform::AtrMatches(type, same, 2));
  EXPECT_FALSE(platform::AtrMatches(type, nullptr, 3));
}

}  // namespace
