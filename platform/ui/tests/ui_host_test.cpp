// Dialogs inside programs that have no Qt application of their own.
#include <gtest/gtest.h>

#include <string>

#include "orvel_test/program_run.h"

namespace {

using orvel_test::ProgramRun;

// Runs the probe with no display, as a program started from a console or
// a service is; `environment` adds to what it is given.
ProgramRun RunProbe(const std::string& environment, const std::string& arguments) {
  return orvel_test::RunProgram("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                environment + " " + std::string(UI_HOST_PROBE_PATH) + " " +
                                arguments + " 2>/dev/null");
}

// No platform chosen and no display: the platform's application falls back
// to the offscreen platform. A program's own application, which needs a
// platform without a display and chooses offscreen itself, is left alone.
struct HostCase {
  const char* name;
  const char* environment;
  const char* arguments;
  const char* application;  // whose application shows the dialog
};
class DialogsInOtherPrograms : public ::testing::TestWithParam<HostCase> {};

TEST_P(DialogsInOtherPrograms, AreShownOffscreen) {
  const ProgramRun run = RunProbe(GetParam().environment, GetParam().arguments);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("cursor wait\napplication ") + GetParam().application +
                         "\nplatform offscreen\ndialog 1 shown 1\n");
}

INSTANTIATE_TEST_SUITE_P(Applications, DialogsInOtherPrograms,
                         ::testing::Values(HostCase{"ThePlatformMakesTheApplicationOnFirstUse", "",
                                                    "", "platform"},
                                           HostCase{"AProgramsOwnApplicationIsLeftAlone",
                                                    "QT_QPA_PLATFORM=offscreen", "own-app", "own"}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
