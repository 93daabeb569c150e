// Reading a key record held in memory (the content inside the record's own
// header), as the key directories hold it: common object attributes, common
// key attributes (identifier, usage, native, access flags, each passed over
// when absent, then the key reference), optional subclass attributes, type
// attributes with the key file path. Every element is checked against what
// holds it; the view points into the bytes it was given.
#pragma once

#include <optional>
#include <span>

#include "platform/win32.h"

struct KeyRecordView {
  // The identifier element whole (tag 04, length, bytes); empty when absent.
  std::span<const BYTE> identifier;
  // Content of the usage bit string: the count of unused bits, then the bits;
  // empty when absent.
  std::span<const BYTE> usage;
  // Content of the access flags bit string; empty when absent.
  std::span<const BYTE> accessFlags;
  // Identifier, usage, native and access flags were all there.
  bool allKeyAttributes = false;
  BYTE keyReference = 0;
  // The key file path text; empty when the record has no type attributes
  // shaped as a path.
  std::span<const BYTE> path;

  // The two usage bytes after the count of unused bits, high byte first
  // (0 for those the bit string does not hold).
  WORD UsageWord() const;
};

// nullopt when the record does not have the shape up to the key reference.
std::optional<KeyRecordView> ParseKeyRecord(std::span<const BYTE> content);
