#include "platform/user_state.h"

#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path UserStateDir() {
  std::filesystem::path dir;
  if (const char* over = std::getenv("ORVEL_USER_DIR"); over && *over) {
    dir = over;
  } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    dir = std::filesystem::path(xdg) / "orvel-platform";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dir = std::filesystem::path(home) / ".local/share/orvel-platform";
  } else {
    dir = "/tmp/orvel-platform";
  }
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) {
    std::filesystem::create_directories(dir, ec);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
  }
  return dir;
}

}  // namespace platform
