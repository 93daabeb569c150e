#include "platform/user_state.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// A path below a character device: every create, open or listing under it
// fails (ENOTDIR), whoever the user is.
constexpr char kRefusedDir[] = "/dev/null/orvel-platform-refused";

std::string ErrnoText(int error) { return std::strerror(error); }

// The home directory from the password database.
std::string PasswordDatabaseHome(std::string& error) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  int rc = 0;
  while ((rc = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (rc != 0 || found == nullptr || entry.pw_dir == nullptr || entry.pw_dir[0] != '/') {
    error = "no HOME and no home directory in the password database for user " +
            std::to_string(::geteuid());
    return {};
  }
  return entry.pw_dir;
}

std::filesystem::path Location(std::string& error) {
  if (const char* over = std::getenv("ORVEL_USER_DIR"); over && *over) return over;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "orvel-platform";
  }
  std::string home;
  if (const char* fromEnvironment = std::getenv("HOME"); fromEnvironment && *fromEnvironment) {
    home = fromEnvironment;
  } else {
    home = PasswordDatabaseHome(error);
    if (home.empty()) return {};
  }
  return std::filesystem::path(home) / ".local/share/orvel-platform";
}

// Creates the directory and the missing ones above it, each with mode 0700
// from the moment it exists.
std::string MakeDirectories(const std::filesystem::path& dir) {
  std::filesystem::path partial;
  for (const std::filesystem::path& part : dir.lexically_normal()) {
    partial /= part;
    if (part.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      return "cannot create " + partial.string() + ": " + ErrnoText(errno);
    }
  }
  return {};
}

// Why an existing directory must not hold the user's state; empty when it may.
std::string Refusal(const std::filesystem::path& dir) {
  const uid_t user = ::geteuid();
  struct stat link {};
  if (::lstat(dir.c_str(), &link) != 0) return "cannot examine it: " + ErrnoText(errno);
  if (S_ISLNK(link.st_mode) && link.st_uid != user && link.st_uid != 0) {
    return "it is a symbolic link of another user (uid " + std::to_string(link.st_uid) + ")";
  }
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0) return "cannot examine it: " + ErrnoText(errno);
  if (!S_ISDIR(st.st_mode)) return "it is not a directory";
  if (st.st_uid != user) {
    return "it belongs to another user (uid " + std::to_string(st.st_uid) + ", not " +
           std::to_string(user) + ")";
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("others may write to it (mode ") + mode + ")";
  }
  return {};
}

// Creates the directory when it is missing; why it must not be used, or
// nothing.
std::string Prepare(const std::filesystem::path& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    if (errno != ENOENT) return "cannot examine it: " + ErrnoText(errno);
    if (std::string error = MakeDirectories(dir); !error.empty()) return error;
  }
  return Refusal(dir);
}

}  // namespace

std::filesystem::path SystemDefaultsDir() {
  const char* over = std::getenv("ORVEL_SYSTEM_DIR");
  const std::filesystem::path dir = over && *over ? over : ORVEL_SYSTEM_DIR_DEFAULT;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  if ((st.st_uid != 0 && st.st_uid != ::geteuid()) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return {};
  }
  return dir;
}

UserStateCheck CheckUserStateDir() {
  UserStateCheck check;
  check.dir = Location(check.error);
  if (check.error.empty()) check.error = Prepare(check.dir);
  if (!check.error.empty()) {
    check.error = check.dir.empty() ? "no per-user state directory: " + check.error
                                    : "the per-user state directory " + check.dir.string() +
                                          " is refused: " + check.error;
  }
  return check;
}

std::filesystem::path UserStateDir() {
  UserStateCheck check = CheckUserStateDir();
  if (check.error.empty()) return check.dir;
  static std::once_flag told;
  std::call_once(told,
                 [&check] { std::fprintf(stderr, "orvel platform: %s\n", check.error.c_str()); });
  return kRefusedDir;
}

}  // namespace platform
