#include "port/linux/radio_handles.h"

#include <atomic>

namespace utils::linuxport {

HANDLE nextHandleValue() {
  // Process-wide: the handle sequence, shared by every table.
  static std::atomic<uintptr_t> next{0x10000};
  return reinterpret_cast<HANDLE>(next.fetch_add(4));
}

}  // namespace utils::linuxport
