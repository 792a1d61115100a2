// Keeps C++ exceptions inside the library: an exported function runs its body
// through guardExport, which stops any exception at the C boundary, writes one
// trace line naming the function and the exception, and answers the function's
// own failure value. The only exception the library logic raises in practice
// is std::bad_alloc (from a string or container in the logic or a platform
// adapter), but whatever is thrown is stopped.
#pragma once

#include <utility>

namespace utils::diag {

// Writes the trace line for the exception being handled; call it only from a
// catch block. Never throws.
void traceStoppedException(const char* function) noexcept;

template <typename Result, typename Body>
Result guardExport(const char* function, Result failure, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    traceStoppedException(function);
    return failure;
  }
}

// For exported functions without a result: the failure is the trace line.
template <typename Body>
void guardExport(const char* function, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (...) {
    traceStoppedException(function);
  }
}

}  // namespace utils::diag
