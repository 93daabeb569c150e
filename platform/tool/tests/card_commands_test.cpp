// The platform tool's card database commands, run as a person runs them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "orvel_test/program_run.h"
#include "platform/card_database.h"
#include "platform_test/scoped_user_dir.h"

namespace {

orvel_test::ProgramRun Tool(const std::string& arguments) {
  return orvel_test::RunProgram(std::string(ORVELPLATFORM_PATH) + " " + arguments + " 2>/dev/null");
}

TEST(PlatformTool, RegisterCardWritesTheCardDatabase) {
  platform_test::ScopedUserDir dir;
  const orvel_test::ProgramRun run = Tool("register-card DRAV-NOR '3B 02 14 50' 'FF FF FF 00'");
  ASSERT_EQ(run.status, 0);
  const auto type = platform::FindCardType("DRAV-NOR");
  ASSERT_TRUE(type);
  EXPECT_EQ(type->atr, (std::vector<std::uint8_t>{0x3B, 0x02, 0x14, 0x50}));
  EXPECT_EQ(type->mask, (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0x00}));

  const orvel_test::ProgramRun list = Tool("list-cards");
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out, "DRAV-NOR\t3B021450\tFFFFFF00\n");

  EXPECT_EQ(Tool("forget-card DRAV-NOR").status, 0);
  EXPECT_FALSE(platform::FindCardType("DRAV-NOR"));
  EXPECT_EQ(Tool("forget-card DRAV-NOR").status, 1);
}

TEST(PlatformTool, HelpAndVersion) {
  const orvel_test::ProgramRun help = Tool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("register-card NAME ATR MASK | NAME [--reader READER]"),
            std::string::npos);
  EXPECT_NE(help.out.find("orvelplatform --help | --version"), std::string::npos);
  const orvel_test::ProgramRun version = Tool("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "orvelplatform 1.0.0.6\n");
}

TEST(PlatformTool, BadArgumentsAreRefusedWithoutWriting) {
  platform_test::ScopedUserDir dir;
  EXPECT_EQ(Tool("register-card DRAV-NOR 3B02").status, 2);      // no mask
  EXPECT_EQ(Tool("register-card DRAV-NOR 3B02 FF").status, 2);   // mask too short
  EXPECT_EQ(Tool("register-card DRAV-NOR 3B0 FFF").status, 2);   // half bytes
  EXPECT_EQ(Tool("register-card '' 3B02 FFFF").status, 2);       // no name
  EXPECT_EQ(Tool("register-card DRAV-NOR --reader").status, 2);  // no reader name
  EXPECT_EQ(Tool("no-such-command").status, 2);
  EXPECT_EQ(Tool("").status, 2);
  EXPECT_TRUE(platform::ListCardTypes().empty());
}

TEST(PlatformTool, RefusedStateDirectoryStopsEveryCommandWithoutWriting) {
  struct Case {
    const char* what;
    mode_t mode;
    uid_t owner;
  };
  const Case cases[] = {{"others may write", 0777, ::geteuid()},
                        {"group may write", 0770, ::geteuid()},
                        {"another user's", 0700, 65534}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform_test::ScopedUserDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), c.mode), 0);
    ASSERT_EQ(::chown(dir.Path().c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(Tool("register-card DRAV-NOR '3B 02 14 50' 'FF FF FF 00'").status, 1);
    EXPECT_EQ(Tool("list-cards").status, 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  }
}

}  // namespace
