// Callers' new and delete are the C++ runtime's global ones.
#include "port/object_heap.h"

#include <new>

namespace utils::port {

void* allocateSharedObject(std::size_t size) { return ::operator new(size); }

void freeSharedObject(void* block) noexcept { ::operator delete(block); }

}  // namespace utils::port
