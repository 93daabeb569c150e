// Buffers for key material and passwords: their memory is wiped before it is
// given back, whatever path releases it.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <memory>
#include <vector>

namespace platform::crypt {

template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    OPENSSL_cleanse(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <class U>
  bool operator==(const WipingAllocator<U>&) const noexcept {
    return true;
  }
};

using SecureBytes = std::vector<unsigned char, WipingAllocator<unsigned char>>;
// NUL-terminated text (passwords) kept out of std::string, whose short-string
// buffer would escape the wipe.
using SecureText = std::vector<char, WipingAllocator<char>>;

}  // namespace platform::crypt
