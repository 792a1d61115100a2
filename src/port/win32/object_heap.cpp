// Programs built with Microsoft's compiler allocate with the universal C
// runtime, whose heap is the process heap: objects handed across the boundary
// live there, whichever side made them.
#include "port/object_heap.h"

#include <windows.h>

#include <new>

namespace utils::port {

void* allocateSharedObject(std::size_t size) {
  void* block = HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void freeSharedObject(void* block) noexcept {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace utils::port
