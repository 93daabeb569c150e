// Names of the key containers under which the card's provider finds a key
// written by this library: 12 hexadecimal digits of the card serial, 4 of
// the usage word, 2 of the key reference, then the key file path.
#pragma once

#include <cstddef>
#include <string>

#include "card/card_types.h"

// The private-key file as the key directory records name it.
inline constexpr char kPrivateKeyFilePath[] = "\\3F11\\3F77\\";
// Serial, usage word and key reference before the key file path.
inline constexpr std::size_t kContainerNamePrefixLength = 18;
// The length of a name made by FormatContainerName (without terminator).
inline constexpr std::size_t kContainerNameLength =
    kContainerNamePrefixLength + sizeof(kPrivateKeyFilePath) - 1;

// The upper-case hexadecimal name for a key written under keyReference with
// roleWord on the card with that serial, e.g. 0123456789AB640020\3F11\3F77\.
std::string FormatContainerName(const CardSerial& serial, WORD roleWord, BYTE keyReference);
