// Dialogs inside programs that have no Qt application of their own.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace {

struct ProbeRun {
  int status = -1;
  std::string out;
};

// Runs the probe with no display, as a program started from a console or
// a service is; `environment` adds to what it is given.
ProbeRun RunProbe(const std::string& environment, const std::string& arguments) {
  ProbeRun run;
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                              environment + " " + std::string(UI_HOST_PROBE_PATH) + " " +
                              arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 256> chunk{};
  while (std::fgets(chunk.data(), chunk.size(), pipe)) run.out += chunk.data();
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

TEST(DialogsInOtherPrograms, ThePlatformMakesTheApplicationOnFirstUse) {
  // No platform chosen and no display: the platform's application falls
  // back to the offscreen platform.
  const ProbeRun run = RunProbe("", "");
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
  const ProbeRun run = RunProbe("QT_QPA_PLATFORM=offscreen", "own-app");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "cursor wait\n"
            "application own\n"
            "platform offscreen\n"
            "dialog 1 shown 1\n");
}

}  // namespace
