// The heap of objects that cross the library's boundary in both directions
// (elements a caller makes and the library frees, and the other way round). It
// must be the heap that callers' new and delete use on the platform.
#pragma once

#include <cstddef>

namespace utils::port {

// A block of size bytes; throws std::bad_alloc when there is no memory.
void* allocateSharedObject(std::size_t size);

// Releases a block from allocateSharedObject; null is ignored.
void freeSharedObject(void* block) noexcept;

}  // namespace utils::port
