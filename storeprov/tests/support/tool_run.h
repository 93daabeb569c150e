// Running a program of the build as a person runs it from a shell, and
// collecting what it prints.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "common/non_copyable.h"

namespace storeprov_test {

struct ToolRun {
  int status = -1;
  std::string out;
};

// Starts `command` (with `environment`, "NAME=value ...", before it); Finish
// waits for it. Several can run at once.
class StartedTool : private NonCopyable {
 public:
  StartedTool(const std::string& command, const std::string& environment = "")
      : m_pipe(::popen(("env " + environment + " " + command + " 2>&1").c_str(), "r")) {}
  ~StartedTool() { Finish(); }

  ToolRun Finish() {
    if (m_pipe == nullptr) return m_run;
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), m_pipe) != nullptr) m_run.out += chunk.data();
    const int raw = ::pclose(m_pipe);
    m_pipe = nullptr;
    m_run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return m_run;
  }

 private:
  FILE* m_pipe;
  ToolRun m_run;
};

// The platform tool with these arguments.
inline ToolRun Tool(const std::string& arguments, const std::string& environment = "") {
  return StartedTool(std::string(ORVELPLATFORM_PATH) + " " + arguments, environment).Finish();
}

}  // namespace storeprov_test
