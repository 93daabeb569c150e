// Running programs of the build and the system's tools as a person runs them
// from a shell, and collecting what they print.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "common/non_copyable.h"

namespace orvel_test {

// A program's exit status (-1 when it did not exit) and its standard output.
struct ProgramRun {
  int status = -1;
  std::string out;
};

// Starts a shell command line; Finish waits for the program. Several can run
// at once.
class StartedProgram : private NonCopyable {
 public:
  explicit StartedProgram(const std::string& commandLine)
      : m_pipe(::popen(commandLine.c_str(), "r")) {}
  ~StartedProgram() { Finish(); }

  ProgramRun Finish() {
    if (m_pipe == nullptr) return m_run;
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), m_pipe)) > 0)
      m_run.out.append(chunk.data(), n);
    const int raw = ::pclose(m_pipe);
    m_pipe = nullptr;
    m_run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return m_run;
  }

 private:
  FILE* m_pipe;
  ProgramRun m_run;
};

// Runs a shell command line to its end.
inline ProgramRun RunProgram(const std::string& commandLine) {
  return StartedProgram(commandLine).Finish();
}

}  // namespace orvel_test
