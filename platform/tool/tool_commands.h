// The command table of orvelplatform. Each area of the platform adds its
// commands in a file of its own and lists them in main.cpp.
#pragma once

#include <span>
#include <string>

namespace tool {

struct Command {
  const char* name;
  const char* arguments;  // for the usage text
  const char* summary;
  // Arguments after the command name; returns the exit status.
  int (*run)(std::span<const std::string> args);
};

// Card database: register-card, forget-card, list-cards.
std::span<const Command> CardCommands();
// Certificate stores: list-store, import-pfx, watch-store.
std::span<const Command> StoreCommands();
// Certificates' private keys: sign, decrypt.
std::span<const Command> KeyCommands();
// Modules and providers: register-module, unregister-module, register-provider.
std::span<const Command> ModuleCommands();

}  // namespace tool
