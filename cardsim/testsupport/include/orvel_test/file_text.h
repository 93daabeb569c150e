// The whole text of a file a test reads back (a program's output, a log).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orvel_test {

// Empty when the file cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace orvel_test
