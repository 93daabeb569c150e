// A private per-user state directory for one test: ORVEL_USER_DIR points at
// a fresh temporary directory for the life of the object, which removes it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace platform_test {

class ScopedUserDir {
 public:
  ScopedUserDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvel-user-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
    if (const char* old = std::getenv("ORVEL_USER_DIR")) previous_ = old, hadPrevious_ = true;
    ::setenv("ORVEL_USER_DIR", path_.c_str(), 1);
  }
  ~ScopedUserDir() {
    if (hadPrevious_) {
      ::setenv("ORVEL_USER_DIR", previous_.c_str(), 1);
    } else {
      ::unsetenv("ORVEL_USER_DIR");
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScopedUserDir(const ScopedUserDir&) = delete;
  ScopedUserDir& operator=(const ScopedUserDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace platform_test
