// SetupAPI device lists for the adapters that look up devices by interface class:
// the bus driver's interface and the radio's. A list is destroyed when its owner
// goes out of scope; an interface's device path is read with the usual size
// query, allocation and second call.
#pragma once

#include <windows.h>
/* after windows.h, which it needs */
#include <setupapi.h>

#include <string>

#include "port/bus_port.h"

namespace utils::win32port {

// The calling thread's last error, or fallback when a call failed without setting
// one (so that a failure never reads as success).
DWORD lastErrorOr(DWORD fallback);

// A device information list from SetupDiGetClassDevsW, destroyed on scope exit.
class DeviceList {
 public:
  DeviceList(const GUID& interfaceClass, DWORD flags);
  ~DeviceList();
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  // 0 when the list was made, otherwise SetupDiGetClassDevsW's error.
  DWORD error() const { return error_; }
  HDEVINFO get() const { return list_; }

 private:
  HDEVINFO list_;
  DWORD error_ = 0;
};

// Reads the device path of an enumerated interface. Returns 0 with *path set, or
// the error with *failedStep naming the step that failed (kDetailSize,
// kDetailAlloc or kDetail) and *detailBytes the detail size asked for, when known.
DWORD readInterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* interfaceData, std::wstring* path,
                        port::BusLookupStep* failedStep, DWORD* detailBytes);

}  // namespace utils::win32port
