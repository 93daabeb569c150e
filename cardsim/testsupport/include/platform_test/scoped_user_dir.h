// A private per-user state directory for one test: ORVEL_USER_DIR points at
// a fresh temporary directory for the life of the object, which removes it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "orvel_test/temp_dir.h"

namespace platform_test {

class ScopedUserDir {
 public:
  ScopedUserDir() : dir_("orvel-user") {
    if (const char* old = std::getenv("ORVEL_USER_DIR")) previous_ = old, hadPrevious_ = true;
    ::setenv("ORVEL_USER_DIR", dir_.Path().c_str(), 1);
  }
  ~ScopedUserDir() {
    if (hadPrevious_) {
      ::setenv("ORVEL_USER_DIR", previous_.c_str(), 1);
    } else {
      ::unsetenv("ORVEL_USER_DIR");
    }
  }
  ScopedUserDir(const ScopedUserDir&) = delete;
  ScopedUserDir& operator=(const ScopedUserDir&) = delete;

  const std::filesystem::path& Path() const { return dir_.Path(); }

 private:
  orvel_test::TempDir dir_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace platform_test
