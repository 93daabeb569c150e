// A private per-user state directory for one test: ORVEL_USER_DIR points at
// a fresh temporary directory for the life of the object, which removes it.
// ORVEL_SYSTEM_DIR points at SystemDir(), a directory inside it that does not
// exist until a test makes it, so that no installed system-wide defaults
// reach a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/non_copyable.h"
#include "orvel_test/temp_dir.h"

namespace platform_test {

class ScopedUserDir : private NonCopyable {
 public:
  ScopedUserDir() : m_dir("orvel-user") {
    if (const char* old = std::getenv("ORVEL_USER_DIR")) m_previous = old, m_hadPrevious = true;
    if (const char* old = std::getenv("ORVEL_SYSTEM_DIR")) {
      m_previousSystem = old, m_hadPreviousSystem = true;
    }
    ::setenv("ORVEL_USER_DIR", m_dir.Path().c_str(), 1);
    ::setenv("ORVEL_SYSTEM_DIR", SystemDir().c_str(), 1);
  }
  ~ScopedUserDir() {
    Restore("ORVEL_USER_DIR", m_hadPrevious, m_previous);
    Restore("ORVEL_SYSTEM_DIR", m_hadPreviousSystem, m_previousSystem);
  }

  const std::filesystem::path& Path() const { return m_dir.Path(); }
  // Where this test's system-wide defaults go (made by the test).
  std::filesystem::path SystemDir() const { return m_dir.Path() / "system-defaults"; }

 private:
  static void Restore(const char* name, bool had, const std::string& value) {
    if (had) {
      ::setenv(name, value.c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }

  orvel_test::TempDir m_dir;
  std::string m_previous;
  bool m_hadPrevious = false;
  std::string m_previousSystem;
  bool m_hadPreviousSystem = false;
};

}  // namespace platform_test
