// orvelplatform COMMAND [ARGUMENTS...]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/user_state.h"
#include "tool_commands.h"

namespace {

std::vector<tool::Command> AllCommands() {
  std::vector<tool::Command> all;
  for (const auto& group :
       {tool::CardCommands(), tool::StoreCommands(), tool::KeyCommands(), tool::ModuleCommands()})
    all.insert(all.end(), group.begin(), group.end());
  return all;
}

void PrintUsage(std::FILE* to, const std::vector<tool::Command>& commands) {
  std::fprintf(to,
               "usage: orvelplatform COMMAND [ARGUMENTS...]\n"
               "       orvelplatform --help | --version\n\ncommands:\n");
  for (const tool::Command& c : commands) {
    std::fprintf(to, "  %s %s\n      %s\n", c.name, c.arguments, c.summary);
  }
  std::fprintf(to,
               "\nExit status: 0 done, 1 failed, 2 bad input.\n"
               "State: $ORVEL_USER_DIR or ~/.local/share/orvel-platform, over the system-wide\n"
               "defaults in $ORVEL_SYSTEM_DIR or %s.\n",
               ORVEL_SYSTEM_DIR_DEFAULT);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<tool::Command> commands = AllCommands();
  if (argc < 2) {
    PrintUsage(stderr, commands);
    return 2;
  }
  if (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(stdout, commands);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("orvelplatform %s\n", ORVEL_VERSION);
    return 0;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  for (const tool::Command& c : commands) {
    if (std::strcmp(c.name, argv[1]) != 0) continue;
    // Every command reads or writes the user's state: none runs on a
    // directory that is refused.
    const platform::UserStateCheck state = platform::CheckUserStateDir();
    if (!state.error.empty()) {
      std::fprintf(stderr, "orvelplatform: %s\n", state.error.c_str());
      return 1;
    }
    return c.run(args);
  }
  std::fprintf(stderr, "orvelplatform: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr, commands);
  return 2;
}
