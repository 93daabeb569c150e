#include "failing_allocation.h"

#include <cstdlib>
#include <new>

namespace failing_allocation {
namespace {

thread_local std::size_t t_countdown = 0;
thread_local bool t_failed = false;

}  // namespace

void FailAt(std::size_t n) {
  t_countdown = n;
  t_failed = false;
}

bool Disarm() {
  t_countdown = 0;
  return t_failed;
}

}  // namespace failing_allocation

using failing_allocation::t_countdown;
using failing_allocation::t_failed;

void* operator new(std::size_t size) {
  if (t_countdown != 0 && --t_countdown == 0) {
    t_failed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
// Every other form too, so that whatever allocates, the matching delete
// below frees memory of this allocator (a sanitizer checks the pairing).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
