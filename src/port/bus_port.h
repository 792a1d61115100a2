// The suite's bus driver as the library logic sees it: its first present device
// interface, a handle opened on it, and synchronous I/O control requests. On
// Windows it is the driver's device interface class; on Linux the client of the
// bus daemon's socket.
#pragma once

#include <string>

#include "utils/wintypes.h"

namespace utils::port {

// The step at which looking up the bus interface stopped, so that the caller can
// say what failed.
enum class BusLookupStep {
  kNone,         // the interface was found; path holds its device path
  kDeviceList,   // the list of present interfaces could not be made
  kEnumerate,    // no first interface (ERROR_NO_MORE_ITEMS: none is registered)
  kDetailSize,   // asking the size of the interface detail failed
  kDetailAlloc,  // no memory for a detail of detailBytes bytes
  kDetail,       // reading the interface detail failed
};

struct BusInterface {
  BusLookupStep failedStep = BusLookupStep::kNone;
  DWORD detailBytes = 0;  // the detail size asked for, when known
  std::wstring path;      // the device path to open
};

class BusPort {
 public:
  virtual ~BusPort() = default;

  // Finds the first present interface of the bus driver and reports its device
  // path. Returns 0, or the error of the failed step with found->failedStep
  // naming it (ERROR_NO_MORE_ITEMS at kEnumerate when the driver is absent).
  virtual DWORD findFirstInterface(BusInterface* found) = 0;

  // Opens the interface at path for reading, not shared, synchronous
  // (CreateFileW, GENERIC_READ, OPEN_EXISTING). Returns 0 and the handle, or the
  // error with *handle set to INVALID_HANDLE_VALUE.
  virtual DWORD open(const wchar_t* path, HANDLE* handle) = 0;

  // Sends one I/O control request and blocks until the driver answers
  // (DeviceIoControl without an overlapped record). output receives at most
  // outputSize bytes; returned (may be null) the count written. Returns 0, or the
  // driver's or the transport's error; the output is then unspecified.
  virtual DWORD ioControl(HANDLE bus, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                          DWORD* returned) = 0;

  // Releases a handle from open. ERROR_INVALID_HANDLE when it is not one of this
  // port's open handles (so a shared CloseHandle can ask each port in turn).
  virtual DWORD close(HANDLE bus) = 0;
};

}  // namespace utils::port
