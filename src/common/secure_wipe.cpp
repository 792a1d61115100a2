#include "common/secure_wipe.h"

#include <string.h>

namespace utils {

void secureWipe(void* data, size_t size) {
  if (data == nullptr || size == 0) return;
#if defined(__GLIBC__)
  explicit_bzero(data, size);
#else
  memset(data, 0, size);
  // The memory is "used" afterwards as far as the optimiser can tell.
  __asm__ __volatile__("" : : "r"(data) : "memory");
#endif
}

}  // namespace utils
