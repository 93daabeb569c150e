// Reading the file the user named, whole, with the framework's file object.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

// The file's bytes; nothing on any file error (no name, a missing file, no
// access, not a regular file, a read failure, a file too large to hold).
std::optional<std::vector<BYTE>> ReadWholeFile(const std::string& name);
