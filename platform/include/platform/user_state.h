// The per-user directory of the platform stand-in: the personal store,
// physical-store and provider registrations, software key containers and the
// card database live here. ORVEL_USER_DIR moves it (each test gets its own);
// otherwise it is $XDG_DATA_HOME/orvel-platform or ~/.local/share/orvel-platform.
#pragma once

#include <filesystem>

namespace platform {

// The directory, created (mode 0700) when missing.
std::filesystem::path UserStateDir();

}  // namespace platform
