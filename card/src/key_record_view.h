// Reading a key record held in memory (the content inside the record's own
// header), as the key directories hold it: common object attributes, common
// key attributes (identifier, usage, native, access flags, key reference,
// ...), optional subclass attributes, type attributes with the key file path.
// Every element is checked against what holds it.
#pragma once

#include <optional>
#include <span>

#include "platform/win32.h"

struct KeyRecordView {
  // Content of the usage bit string: the count of unused bits, then the bits.
  std::span<const BYTE> usage;
  BYTE keyReference = 0;
  // The key file path text; empty when the record has no type attributes
  // shaped as a path.
  std::span<const BYTE> path;
};

// nullopt when the record does not have the shape up to the key reference.
std::optional<KeyRecordView> ParseKeyRecord(std::span<const BYTE> content);
