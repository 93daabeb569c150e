#include "card/pin_text.h"

#include <cstring>
#include <utility>

#include "common/secure_wipe.h"

CPinText::CPinText(std::string_view typed)
    : m_text(std::make_unique<char[]>(typed.size() + 1)), m_length(typed.size()) {
  if (!typed.empty()) std::memcpy(m_text.get(), typed.data(), typed.size());
  m_text[m_length] = '\0';
}

CPinText::~CPinText() { Wipe(); }

CPinText::CPinText(CPinText&& other) noexcept
    : m_text(std::move(other.m_text)), m_length(std::exchange(other.m_length, 0)) {}

CPinText& CPinText::operator=(CPinText&& other) noexcept {
  if (this != &other) {
    Wipe();
    m_text = std::move(other.m_text);
    m_length = std::exchange(other.m_length, 0);
  }
  return *this;
}

void CPinText::Wipe() {
  if (m_text) SecureWipe(m_text.get(), m_length + 1);
  m_text.reset();
  m_length = 0;
}
