// The platform tool and other programs of the build, run as a person runs
// them from a shell, with what they print on either stream.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "orvel_test/program_run.h"

namespace storeprov_test {

using ToolRun = orvel_test::ProgramRun;

// Starts `command` (with `environment`, "NAME=value ...", before it); Finish
// waits for it. Several can run at once.
class StartedTool : public orvel_test::StartedProgram {
 public:
  explicit StartedTool(const std::string& command, const std::string& environment = "")
      : StartedProgram("env " + environment + " " + command + " 2>&1") {}
};

// The platform tool with these arguments.
inline ToolRun Tool(const std::string& arguments, const std::string& environment = "") {
  return StartedTool(std::string(ORVELPLATFORM_PATH) + " " + arguments, environment).Finish();
}

// The virtual card's type "DRAV-NOR" and the card's provider registered with
// the tool, as the installation registers them.
inline void RegisterCardWithTool() {
  ASSERT_EQ(Tool("register-card DRAV-NOR '3B 08 44 52 41 56 2D 4E 4F 52' "
                 "'FF FF FF FF FF FF FF FF FF FF'")
                .status,
            0);
  ASSERT_EQ(Tool("register-provider OrvelCSP liborvelcsp.so").status, 0);
}

}  // namespace storeprov_test
