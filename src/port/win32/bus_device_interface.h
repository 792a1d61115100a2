// The bus driver port on Windows: the first present interface of the driver's
// device interface class (SetupAPI), a file handle opened on it, and synchronous
// DeviceIoControl requests. Handles are real file handles, released by callers
// with the system's CloseHandle.
#pragma once

#include "port/bus_port.h"

namespace utils::win32port {

// The suite's bus driver interface class, {FEDE31D4-7D26-4D22-B058-516DC4524889}.
inline constexpr GUID kBusInterfaceClass = {
    0xFEDE31D4, 0x7D26, 0x4D22, {0xB0, 0x58, 0x51, 0x6D, 0xC4, 0x52, 0x48, 0x89}};

class Win32Bus : public port::BusPort {
 public:
  // The interface class looked up; the bus driver's unless a test names another.
  explicit Win32Bus(const GUID& interfaceClass = kBusInterfaceClass) : interfaceClass_(interfaceClass) {}

  DWORD findFirstInterface(port::BusInterface* found) override;
  DWORD open(const wchar_t* path, HANDLE* handle) override;  // CreateFileW
  DWORD ioControl(HANDLE bus, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                  DWORD* returned) override;  // DeviceIoControl
  DWORD close(HANDLE bus) override;           // CloseHandle

 private:
  GUID interfaceClass_;
};

}  // namespace utils::win32port
