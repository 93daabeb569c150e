// The per-user state directory: where it is, how it is made, and the
// directories that are refused. Needs root (directories of another user).
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/user_state.h"
#include "platform_test/scoped_user_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kOtherUser = 65534;

bool Empty(const fs::path& dir) { return fs::is_empty(dir); }

// The environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_previous = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { m_previous ? ::setenv(m_name, m_previous->c_str(), 1) : ::unsetenv(m_name); }

 private:
  const char* m_name;
  std::optional<std::string> m_previous;
};

TEST(UserState, RefusesADirectoryOfAnotherUserOrThatOthersMayWrite) {
  struct Case {
    const char* what;
    bool named;  // by ORVEL_USER_DIR; otherwise found under XDG_DATA_HOME
    mode_t mode;
    uid_t owner;
    const char* reason;
  };
  const uid_t self = ::geteuid();
  const Case cases[] = {
      {"group may write", true, 0770, self, "others may write to it (mode 0770)"},
      {"others may write", true, 0702, self, "others may write to it (mode 0702)"},
      {"world-writable, found", false, 0777, self, "others may write to it (mode 0777)"},
      {"another user's", true, 0700, kOtherUser, "it belongs to another user (uid 65534"},
      {"another user's, found", false, 0755, kOtherUser, "it belongs to another user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform_test::ScopedUserDir base;
    const fs::path dir = base.Path() / "orvel-platform";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(dir.c_str(), c.mode), 0);
    ASSERT_EQ(::chown(dir.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
    const ScopedEnv named("ORVEL_USER_DIR", c.named ? dir.c_str() : nullptr);
    const ScopedEnv found("XDG_DATA_HOME", base.Path().c_str());

    const platform::UserStateCheck check = platform::CheckUserStateDir();
    EXPECT_EQ(check.dir, dir);
    EXPECT_NE(check.error.find(dir.string()), std::string::npos) << check.error;
    EXPECT_NE(check.error.find(c.reason), std::string::npos) << check.error;
    // Whatever the platform writes goes nowhere.
    const fs::path used = platform::UserStateDir();
    EXPECT_NE(used, dir);
    std::error_code error;
    EXPECT_FALSE(fs::create_directories(used / "keys", error));
    EXPECT_FALSE(std::ofstream(used / "providers.json"));
    EXPECT_TRUE(Empty(dir));
  }
}

TEST(UserState, AcceptsTheUsersOwnDirectoryThatOnlyTheUserMayWrite) {
  for (const mode_t mode : {0700, 0755}) {
    SCOPED_TRACE(mode);
    platform_test::ScopedUserDir dir;
    ASSERT_EQ(::chmod(dir.Path().c_str(), mode), 0);
    const platform::UserStateCheck check = platform::CheckUserStateDir();
    EXPECT_EQ(check.error, "");
    EXPECT_EQ(platform::UserStateDir(), dir.Path());
  }
}

TEST(UserState, RefusesWhatIsNotADirectory) {
  platform_test::ScopedUserDir base;
  const fs::path file = base.Path() / "fichero";
  std::ofstream(file) << "x";
  const ScopedEnv named("ORVEL_USER_DIR", file.c_str());
  EXPECT_NE(platform::CheckUserStateDir().error.find("it is not a directory"), std::string::npos);
  EXPECT_NE(platform::UserStateDir(), file);
}

TEST(UserState, CreatesTheDirectoryAndItsParentsForTheUserAlone) {
  platform_test::ScopedUserDir base;
  const fs::path dir = base.Path() / "a" / "b" / "orvel-platform";
  const ScopedEnv named("ORVEL_USER_DIR", dir.c_str());
  const mode_t previous = ::umask(0);  // modes come from the creation itself
  const platform::UserStateCheck check = platform::CheckUserStateDir();
  ::umask(previous);
  EXPECT_EQ(check.error, "");
  for (const fs::path& level : {base.Path() / "a", base.Path() / "a" / "b", dir}) {
    SCOPED_TRACE(level.string());
    struct stat st {};
    ASSERT_EQ(::stat(level.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
  }
}

// Without HOME the home directory comes from the password database. Run as
// another user (whose home cannot be written), so that nothing is made in a
// real home.
TEST(UserState, WithoutHomeTheHomeComesFromThePasswordDatabase) {
  const struct passwd* other = ::getpwuid(kOtherUser);
  ASSERT_NE(other, nullptr);
  const std::string expected = fs::path(other->pw_dir) / ".local/share/orvel-platform";

  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe[0]);
    if (::setresgid(kOtherUser, kOtherUser, kOtherUser) != 0 ||
        ::setresuid(kOtherUser, kOtherUser, kOtherUser) != 0) {
      ::_exit(2);
    }
    ::unsetenv("ORVEL_USER_DIR");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    const platform::UserStateCheck check = platform::CheckUserStateDir();
    const std::string answer = check.dir.string() + "\n" + check.error;
    const bool written =
        ::write(pipe[1], answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
    ::_exit(written ? 0 : 3);
  }
  ::close(pipe[1]);
  std::string answer;
  char chunk[256];
  for (ssize_t n; (n = ::read(pipe[0], chunk, sizeof chunk)) > 0;) answer.append(chunk, n);
  ::close(pipe[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string dir = answer.substr(0, answer.find('\n'));
  EXPECT_EQ(dir, expected);
  // That home does not exist: refused with the reason, never replaced by /tmp.
  EXPECT_NE(answer.find("cannot create"), std::string::npos) << answer;
}

}  // namespace
