// A private per-user state directory for one test: ORVEL_USER_DIR points at
// a fresh temporary directory for the life of the object, which removes it.
// ORVEL_SYSTEM_DIR points at SystemDir(), a directory inside it that does not
// exist until a test makes it, so that no installed system-wide defaults
// reach a test.
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
    if (const char* old = std::getenv("ORVEL_SYSTEM_DIR")) {
      previousSystem_ = old, hadPreviousSystem_ = true;
    }
    ::setenv("ORVEL_USER_DIR", dir_.Path().c_str(), 1);
    ::setenv("ORVEL_SYSTEM_DIR", SystemDir().c_str(), 1);
  }
  ~ScopedUserDir() {
    Restore("ORVEL_USER_DIR", hadPrevious_, previous_);
    Restore("ORVEL_SYSTEM_DIR", hadPreviousSystem_, previousSystem_);
  }
  ScopedUserDir(const ScopedUserDir&) = delete;
  ScopedUserDir& operator=(const ScopedUserDir&) = delete;

  const std::filesystem::path& Path() const { return dir_.Path(); }
  // Where this test's system-wide defaults go (made by the test).
  std::filesystem::path SystemDir() const { return dir_.Path() / "system-defaults"; }

 private:
  static void Restore(const char* name, bool had, const std::string& value) {
    if (had) {
      ::setenv(name, value.c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }

  orvel_test::TempDir dir_;
  std::string previous_;
  bool hadPrevious_ = false;
  std::string previousSystem_;
  bool hadPreviousSystem_ = false;
};

}  // namespace platform_test
