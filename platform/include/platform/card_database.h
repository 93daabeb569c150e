// The per-user card database behind SCardIntroduceCardTypeA and
// SCardLocateCardsA, as a file (smartcards.json) in the user state
// directory, over the system-wide defaults (platform/user_state.h): a card
// type the user registers hides the system-wide one of that name. Tools and
// tests use this interface directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct CardType {
  std::string name;
  std::vector<std::uint8_t> atr;
  std::vector<std::uint8_t> mask;  // same length as atr
};

// Every registered card type, the user's and the system-wide ones, in name
// order. An absent or unreadable database is empty.
std::vector<CardType> ListCardTypes();
std::optional<CardType> FindCardType(const std::string& name);

// Adds or replaces a card type; false when the ATR is empty or longer than
// 33 bytes, the mask's length differs, the name is empty, or the database
// cannot be written.
bool RegisterCardType(const CardType& type);
// Removes the user's own registration (the system-wide one, if any, shows
// again). False when the user had not registered the name or the database
// cannot be written.
bool ForgetCardType(const std::string& name);

// Whether an ATR read from a reader matches a card type.
bool AtrMatches(const CardType& type, const std::uint8_t* atr, std::size_t atrLength);

// Hexadecimal text (spaces and colons allowed between bytes) to bytes;
// nullopt when it is not whole bytes of hexadecimal digits.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text);

}  // namespace platform
