// Allocation failures on demand, for tests of what code does when memory
// runs out. A program that links orvel_failing_allocation gets its own
// global operator new (for itself and every library and module it loads);
// it behaves as usual until a thread arms it.
#pragma once

#include <cstddef>

namespace failing_allocation {

// The nth allocation through operator new on this thread from now on (1 is
// the next one) throws std::bad_alloc; 0 disarms.
void FailAt(std::size_t n);
// Disarms; true when the armed failure happened.
bool Disarm();

// Calls operation with the 1st, 2nd, ... allocation of the calling thread
// failing in turn, until a call makes fewer allocations than the one
// chosen. prepare() runs before every call and check(failed) after it, both
// without failures, failed telling whether the injected failure happened in
// the call. Returns how many allocation points were failed.
template <class Prepare, class Operation, class Check>
std::size_t FailEachAllocation(Prepare&& prepare, Operation&& operation, Check&& check) {
  for (std::size_t n = 1;; ++n) {
    prepare();
    FailAt(n);
    operation();
    const bool failed = Disarm();
    check(failed);
    if (!failed) return n - 1;
  }
}

}  // namespace failing_allocation
