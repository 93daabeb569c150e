// JSON files of the user's state directory that several processes read and
// change: registrations and persistent stores. Changes are made under an
// exclusive lock (flock on a companion ".lock" file, so that no change made
// by another process in between is lost) and written through a temporary
// file renamed over the old one, so that readers never see half a file.
#pragma once

#include "platform/win32.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::crypt {

class StateFile {
 public:
  explicit StateFile(std::filesystem::path path) : m_path(std::move(path)) {}

  // The content; an empty object when the file does not exist.
  // ERROR_INVALID_DATA when it is not JSON.
  DWORD Read(nlohmann::json& content) const;
  // Runs change on the current content (as Read gives it) and writes the
  // result when change returns ERROR_SUCCESS; otherwise nothing is written
  // and change's error is returned. Content that cannot be read is never
  // overwritten (ERROR_INVALID_DATA).
  DWORD Update(const std::function<DWORD(nlohmann::json&)>& change) const;

  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// Base64 text of bytes and back (nothing for text that is not Base64).
std::string EncodeBase64(const BYTE* data, std::size_t size);
std::optional<std::vector<BYTE>> DecodeBase64(const std::string& text);

}  // namespace platform::crypt
