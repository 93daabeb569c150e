// A PIN as the user typed it, held for one installation and wiped when it
// goes. Move-only: there is never a second copy to forget.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "common/non_copyable.h"

class CPinText : private NonCopyable {
 public:
  CPinText() = default;
  // Copies the typed characters (the caller wipes its own copy).
  explicit CPinText(std::string_view typed);
  ~CPinText();
  CPinText(CPinText&& other) noexcept;
  CPinText& operator=(CPinText&& other) noexcept;

  // Zero-terminated; "" when empty.
  const char* c_str() const { return m_text ? m_text.get() : ""; }
  std::size_t size() const { return m_length; }
  bool empty() const { return m_length == 0; }

 private:
  void Wipe();

  std::unique_ptr<char[]> m_text;
  std::size_t m_length = 0;
};
