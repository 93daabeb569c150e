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
  for (const auto& group : {tool::CardCommands(), tool::StoreCommands(), tool::KeyCommands(), tool::ModuleCommands()}) all.insert(all.end(), group.begin(), group.end());
  return all;
}

void PrintUsage(const std::vector<tool::Command>& commands) {
  std::fprintf(stderr, "usage: orvelplatform COMMAND [ARGUMENTS...]\n\ncommands:\n");
  for (const tool::Command& c : commands) {
    std::fprintf(stderr, "  %s %s\n      %s\n", c.name, c.arguments, c.summary);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<tool::Command> commands = AllCommands();
  if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
    PrintUsage(commands);
    return argc < 2 ? 2 : 0;
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
  PrintUsage(commands);
  return 2;
}
