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

TEST(DialogsInOtherPrograms, ThePlatformMakesTheApplicationOnFirstUse) {
  // No platform chosen and no display: the platform's application falls
  // back to the offscreen platform.
  const ProgramRun run = RunProbe("", "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "cursor wait\n"
            "application platform\n"
            "platform offscreen\n"
            "dialog 1 shown 1\n");
}

TEST(DialogsInOtherPrograms, AProgramsOwnApplicationIsLeftAlone) {
  // The program's own application needs a platform without a display; it
  // chooses offscreen itself.
  const ProgramRun run = RunProbe("QT_QPA_PLATFORM=offscreen", "own-app");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "cursor wait\n"
            "application own\n"
            "platform offscreen\n"
            "dialog 1 shown 1\n");
}

}  // namespace
