// Overwriting secrets with zeros in a way the compiler may not drop as a dead
// store.
#pragma once

#include <cstddef>

namespace utils {

void secureWipe(void* data, size_t size);

}  // namespace utils
