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
//
// Beneath each user's own state lie the system-wide defaults that the
// installed packages provide (the provider and card databases, in the same
// file formats): what a user registers overrides them, what the user never
// registered is found there. They are read only, never written.
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

// The directory of the system-wide defaults: ORVEL_SYSTEM_DIR when set (tests
// point it at a directory of their own), otherwise the one the platform was
// installed with (ORVEL_SYSTEM_DIR_DEFAULT at build time, /etc/orvel-platform
// for the packages). Empty when the directory is missing, or when it is not
// root's or the user's own or others may write to it: no defaults are read
// from a directory just anyone controls.
std::filesystem::path SystemDefaultsDir();

}  // namespace platform
