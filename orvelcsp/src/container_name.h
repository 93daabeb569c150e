// Key-container names of the card: 12 hexadecimal digits of the card serial,
// 4 of a usage word, 2 of the key reference, then the key file path, for
// example 0123456789AB640020\3F11\3F77\.
//
// The same key is reached under two names: the one it was attached under
// carries the role word it was written with (4400, 2000 or 6400), the one
// read back from its private-key record carries that record's usage bytes
// (6400). The usage digits and the path are therefore kept as information
// only; a container is identified by the card serial and the key reference.
#pragma once

#include <optional>
#include <string>

#include "card/card_types.h"

struct ContainerName {
  CardSerial serial{};
  WORD usage = 0;  // information only
  BYTE keyReference = 0;
  std::string keyPath;  // information only
};

// Digits in either case. Nothing for a name shorter than 18 characters, with a
// non-hexadecimal character among the first 18, or without a path after them.
std::optional<ContainerName> ParseContainerName(const char* name);
