// Structured reading of a fuzzer's input: fixed fields first, the rest as
// content. Reading past the end yields zeros and empty spans, so every input
// decodes to something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvel_fuzz {

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  // Little-endian, as the input's fields are written.
  std::uint16_t Word() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | (Byte() << 8));
  }
  // Up to n bytes (fewer at the end of the input).
  std::span<const std::uint8_t> Take(std::size_t n) {
    const std::size_t available = m_size - m_pos;
    if (n > available) n = available;
    const std::span<const std::uint8_t> part(m_data + m_pos, n);
    m_pos += n;
    return part;
  }
  std::span<const std::uint8_t> Rest() { return Take(m_size - m_pos); }
  bool AtEnd() const { return m_pos >= m_size; }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

}  // namespace orvel_fuzz
