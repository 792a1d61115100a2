// Thin memory and narrow-string routines. Note the opposite senses: OS_MemCmp
// answers "equal" (1) while OS_StrCmp answers "different" (1).
#include <cstring>

#include "utils/primitives.h"

extern "C" {

UTILS_API void* OS_MemCopy(void* destination, const void* source, DWORD count) {
  if (count == 0) return destination;
  return std::memcpy(destination, source, count);
}

UTILS_API void* OS_MemSet(void* destination, BYTE value, DWORD count) {
  if (count == 0) return destination;
  return std::memset(destination, value, count);
}

UTILS_API BOOL OS_MemCmp(const void* first, WORD firstLength, const void* second, WORD secondLength) {
  if (firstLength != secondLength) return 0;
  if (firstLength == 0) return 1;
  return std::memcmp(first, second, firstLength) == 0 ? 1 : 0;
}

UTILS_API int OS_StrCmp(const char* first, const char* second) {
  while (*first != '\0' && *first == *second) {
    ++first;
    ++second;
  }
  return *first == *second ? 0 : 1;
}

UTILS_API SIZE_T OS_StrLen(const char* text) { return std::strlen(text); }

}  // extern "C"
