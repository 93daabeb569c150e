// The path text of a certificate record: a backslash and four hexadecimal
// digits per file identifier, from the master file down to the certificate
// file, e.g. "\3F11\0101".
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "platform/win32.h"

// At most this many identifiers are followed.
inline constexpr std::size_t kMaxPathIdentifiers = 10;
// Longest path text looked at: ten groups, a closing backslash and a NUL,
// with room to spare.
inline constexpr std::size_t kMaxPathTextBytes = 64;

// The identifiers named by the text, read no further than its end or a NUL.
// A closing backslash adds none. nullopt when the text names no identifier,
// more than kMaxPathIdentifiers, or is not made of such groups.
std::optional<std::vector<WORD>> ParseCertificatePath(std::span<const BYTE> text);

// The path text of an object's type attributes in a directory record, a key
// file's or a certificate file's: A1 { 30 { 04 text, ... } } at element,
// within end. Empty when they are not shaped so.
std::span<const BYTE> TypeAttributesPath(const BYTE* element, const BYTE* end);
