// The command table of orvelplatform. Each area of the platform adds its
// commands in a file of its own and lists them in main.cpp.
#pragma once

#include <iosfwd>
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

// register-card NAME [--reader READER]: registers the name with the whole ATR
// (mask all FF) of the card in the reader. Without a reader: the only
// reader holding a card, or, when several do, the one chosen by its number
// read from in after they are listed on out. 2 for bad input (a name that
// cannot be a card name, no such reader, no card, a bad choice), 1 when
// PC/SC or the card database fails.
int RegisterCardInReader(const std::string& name, const std::string* reader, std::istream& in,
                         std::ostream& out, std::ostream& err);
// Certificate stores: list-store, import-pfx, watch-store.
std::span<const Command> StoreCommands();
// Certificates' private keys: sign, decrypt.
std::span<const Command> KeyCommands();
// Modules and providers: register-module, unregister-module, register-provider.
std::span<const Command> ModuleCommands();

}  // namespace tool
