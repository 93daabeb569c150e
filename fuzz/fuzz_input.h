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
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Little-endian, as the input's fields are written.
  std::uint16_t Word() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | (Byte() << 8));
  }
  // Up to n bytes (fewer at the end of the input).
  std::span<const std::uint8_t> Take(std::size_t n) {
    const std::size_t available = size_ - pos_;
    if (n > available) n = available;
    const std::span<const std::uint8_t> part(data_ + pos_, n);
    pos_ += n;
    return part;
  }
  std::span<const std::uint8_t> Rest() { return Take(size_ - pos_); }
  bool AtEnd() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace orvel_fuzz
