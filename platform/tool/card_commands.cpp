// Card database commands.
#include <cstdio>

#include "platform/card_database.h"
#include "platform/winscard_ext.h"
#include "tool_commands.h"

namespace tool {
namespace {

int RegisterCard(std::span<const std::string> args) {
  if (args.size() != 3) {
    std::fprintf(stderr, "register-card: expected NAME ATR MASK\n");
    return 2;
  }
  const auto atr = platform::ParseHexBytes(args[1]);
  const auto mask = platform::ParseHexBytes(args[2]);
  if (!atr || atr->empty() || atr->size() > MAX_ATR_SIZE) {
    std::fprintf(stderr, "register-card: ATR must be 1 to %d bytes in hexadecimal\n", MAX_ATR_SIZE);
    return 2;
  }
  if (!mask || mask->size() != atr->size()) {
    std::fprintf(stderr, "register-card: MASK must have as many bytes as the ATR\n");
    return 2;
  }
  const LONG rv = SCardIntroduceCardTypeA(0, args[0].c_str(), nullptr, nullptr, 0, atr->data(),
                                          mask->data(), static_cast<DWORD>(atr->size()));
  if (rv != SCARD_S_SUCCESS) {
    std::fprintf(stderr, "register-card: cannot write the card database (0x%08lX)\n",
                 static_cast<unsigned long>(rv));
    return 1;
  }
  std::printf("%s: ATR %s mask %s\n", args[0].c_str(), platform::FormatHexBytes(*atr).c_str(),
              platform::FormatHexBytes(*mask).c_str());
  return 0;
}

int ForgetCard(std::span<const std::string> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "forget-card: expected NAME\n");
    return 2;
  }
  const LONG rv = SCardForgetCardTypeA(0, args[0].c_str());
  if (rv == SCARD_E_UNKNOWN_CARD) {
    std::fprintf(stderr, "forget-card: no card named '%s'\n", args[0].c_str());
    return 1;
  }
  if (rv != SCARD_S_SUCCESS) {
    std::fprintf(stderr, "forget-card: cannot write the card database\n");
    return 1;
  }
  return 0;
}

int ListCards(std::span<const std::string> args) {
  if (!args.empty()) {
    std::fprintf(stderr, "list-cards: takes no arguments\n");
    return 2;
  }
  for (const platform::CardType& type : platform::ListCardTypes()) {
    std::printf("%s\t%s\t%s\n", type.name.c_str(), platform::FormatHexBytes(type.atr).c_str(),
                platform::FormatHexBytes(type.mask).c_str());
  }
  return 0;
}

const Command kCardCommands[] = {
    {"register-card", "NAME ATR MASK",
     "enter a card name into the card database with its ATR and mask (hexadecimal)", RegisterCard},
    {"forget-card", "NAME", "remove a card name from the card database", ForgetCard},
    {"list-cards", "", "list the card database: name, ATR, mask", ListCards},
};

}  // namespace

std::span<const Command> CardCommands() { return kCardCommands; }

}  // namespace tool
