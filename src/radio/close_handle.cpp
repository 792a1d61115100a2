// CloseHandle for the Linux build: the bus and radio handles that the library
// hands to callers are released here (on Windows the system's CloseHandle does it).
#if !defined(_WIN32)
#include "port/platform.h"
#include "utils/radio.h"

UTILS_API BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return FALSE;
  const auto& platform = utils::port::platform();
  if (platform.bus != nullptr && platform.bus->close(handle) == 0) return TRUE;
  if (platform.radio != nullptr && platform.radio->close(handle) == 0) return TRUE;
  return FALSE;
}
#endif
