// The guard around the body of every exported entry point: no exception
// leaves the module into the platform or the host program. An exception
// becomes the entry point's failure result; what the body held is released
// while it unwinds.
#pragma once

#include <utility>

template <class Result, class Body>
Result GuardedEntry(Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return failure;
  }
}
