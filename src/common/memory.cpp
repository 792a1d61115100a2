// Thin memory and narrow-string routines. Note the opposite senses: OS_MemCmp
// answers "equal" (1) while OS_StrCmp answers "different" (1). A null pointer
// is never read or written: nothing is copied or filled, and a comparison with
// it answers "not equal" (OS_MemCmp 0, OS_StrCmp 1).
#include <cstring>

#include "utils/primitives.h"

extern "C" {

UTILS_API void* OS_MemCopy(void* destination, const void* source, DWORD count) {
  if (count == 0 || destination == nullptr || source == nullptr) return destination;
  return std::memcpy(destination, source, count);
}

UTILS_API void* OS_MemSet(void* destination, BYTE value, DWORD count) {
  if (count == 0 || destination == nullptr) return destination;
  return std::memset(destination, value, count);
}

UTILS_API BOOL OS_MemCmp(const void* first, WORD firstLength, const void* second, WORD secondLength) {
  if (firstLength != secondLength) return 0;
  if (firstLength == 0) return 1;
  if (first == nullptr || second == nullptr) return 0;
  return std::memcmp(first, second, firstLength) == 0 ? 1 : 0;
}

UTILS_API int OS_StrCmp(const char* first, const char* second) {
  if (first == nullptr || second == nullptr) return 1;
  while (*first != '\0' && *first == *second) {
    ++first;
    ++second;
  }
  return *first == *second ? 0 : 1;
}

UTILS_API SIZE_T OS_StrLen(const char* text) { return text != nullptr ? std::strlen(text) : 0; }

}  // extern "C"
