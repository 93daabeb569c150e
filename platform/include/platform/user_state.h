// The per-user directory of the platform stand-in: the personal store,
// physical-store and provider registrations, software key containers and the
// card database live here. ORVEL_USER_DIR moves it (each test gets its own);
// otherwise it is $XDG_DATA_HOME/orvel-platform or ~/.local/share/orvel-platform,
// the home directory coming from HOME or, without it, from the password
// database.
//
// The directory must belong to the user and be writable by nobody else; one
// that is not is refused, never used. A missing directory is created with
// mode 0700 from the start, as are the missing directories above it.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

struct UserStateCheck {
  std::filesystem::path dir;  // where the state is (or would be) kept
  std::string error;          // why it cannot be used; empty when it can
};

// Finds the directory, creates it when missing and checks it.
UserStateCheck CheckUserStateDir();

// The directory when CheckUserStateDir accepts it. When it refuses it, a path
// under which nothing can be created, opened or listed, so that no state is
// read from or written to a directory someone else controls; the reason goes
// to the standard error once per process.
std::filesystem::path UserStateDir();

}  // namespace platform
