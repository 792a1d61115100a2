#include "port/win32/bus_device_interface.h"

#include "port/win32/bus_setupapi.h"

namespace utils::win32port {

DWORD Win32Bus::findFirstInterface(port::BusInterface* found) {
  found->detailBytes = 0;
  found->path.clear();
  DeviceList list(interfaceClass_, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list.error() != 0) {
    found->failedStep = port::BusLookupStep::kDeviceList;
    return list.error();
  }
  // Only the first interface is used, even when the driver has several.
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!SetupDiEnumDeviceInterfaces(list.get(), nullptr, &interfaceClass_, 0, &interfaceData)) {
    found->failedStep = port::BusLookupStep::kEnumerate;
    return lastErrorOr(ERROR_NO_MORE_ITEMS);
  }
  return readInterfacePath(list.get(), &interfaceData, &found->path, &found->failedStep, &found->detailBytes);
}

DWORD Win32Bus::open(const wchar_t* path, HANDLE* handle) {
  *handle = INVALID_HANDLE_VALUE;
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  // For reading, not shared, synchronous.
  const HANDLE opened = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return lastErrorOr(ERROR_GEN_FAILURE);
  *handle = opened;
  return 0;
}

DWORD Win32Bus::ioControl(HANDLE bus, DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                          DWORD* returned) {
  // DeviceIoControl leaves the count alone when it fails.
  DWORD written = 0;
  const BOOL ok =
      DeviceIoControl(bus, code, const_cast<void*>(input), inputSize, output, outputSize, &written, nullptr);
  const DWORD error = ok ? 0 : lastErrorOr(ERROR_GEN_FAILURE);
  if (returned != nullptr) *returned = ok ? written : 0;
  return error;
}

DWORD Win32Bus::close(HANDLE bus) { return CloseHandle(bus) ? 0 : lastErrorOr(ERROR_INVALID_HANDLE); }

}  // namespace utils::win32port
