// Running a program of the build as a person runs it from a shell, and
// collecting what it prints.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace storeprov_test {

struct ToolRun {
  int status = -1;
  std::string out;
};

// Starts `command` (with `environment`, "NAME=value ...", before it); Finish
// waits for it. Several can run at once.
class StartedTool {
 public:
  StartedTool(const std::string& command, const std::string& environment = "")
      : pipe_(::popen(("env " + environment + " " + command + " 2>&1").c_str(), "r")) {}
  ~StartedTool() { Finish(); }
  StartedTool(const StartedTool&) = delete;
  StartedTool& operator=(const StartedTool&) = delete;

  ToolRun Finish() {
    if (pipe_ == nullptr) return run_;
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe_) != nullptr) run_.out += chunk.data();
    const int raw = ::pclose(pipe_);
    pipe_ = nullptr;
    run_.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run_;
  }

 private:
  FILE* pipe_;
  ToolRun run_;
};

// The platform tool with these arguments.
inline ToolRun Tool(const std::string& arguments, const std::string& environment = "") {
  return StartedTool(std::string(ORVELPLATFORM_PATH) + " " + arguments, environment).Finish();
}

}  // namespace storeprov_test
