// The password as the PFX functions take it: UTF-16, zero-terminated.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "common/non_copyable.h"
#include "platform/win32.h"

enum class PasswordConversion {
  Converted,
  NoMemory,  // no room for the converted text
  Failed,    // the text cannot be converted
};

class CWidePassword;

// Converts password (the ANSI code page) into *wide. The text is measured and
// converted by one and the same conversion, so that what is converted is
// exactly what was measured: the PFX functions receive the password as
// typed, every character of it.
PasswordConversion ConvertPassword(const std::string& password, CWidePassword* wide);

// The converted password; wiped when it goes.
class CWidePassword : private NonCopyable {
 public:
  CWidePassword() = default;
  ~CWidePassword();

  // Zero-terminated; null before a conversion.
  LPCWSTR c_str() const { return m_text.get(); }
  std::size_t size() const { return m_units; }

 private:
  friend PasswordConversion ConvertPassword(const std::string& password, CWidePassword* wide);
  void Wipe();

  std::unique_ptr<WCHAR[]> m_text;
  std::size_t m_units = 0;
};
