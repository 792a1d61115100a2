#include "port/win32/radio_bluetooth.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "port/win32/bus_setupapi.h"

namespace utils::win32port {
namespace {

// Ends a device search on scope exit.
class DeviceSearch {
 public:
  explicit DeviceSearch(HBLUETOOTH_DEVICE_FIND search) : search_(search) {}
  ~DeviceSearch() {
    if (search_ != nullptr) BluetoothFindDeviceClose(search_);
  }
  DeviceSearch(const DeviceSearch&) = delete;
  DeviceSearch& operator=(const DeviceSearch&) = delete;

 private:
  HBLUETOOTH_DEVICE_FIND search_;
};

}  // namespace

DWORD Win32Radio::findFirstRadio(HANDLE* search, HANDLE* radio) {
  *search = nullptr;
  *radio = nullptr;
  BLUETOOTH_FIND_RADIO_PARAMS params{};
  params.dwSize = sizeof params;
  HANDLE found = nullptr;
  const HBLUETOOTH_RADIO_FIND opened = BluetoothFindFirstRadio(&params, &found);
  if (opened == nullptr) return lastErrorOr(ERROR_NO_MORE_ITEMS);
  *search = opened;
  *radio = found;
  return 0;
}

DWORD Win32Radio::findRadioClose(HANDLE search) {
  return BluetoothFindRadioClose(search) ? 0 : lastErrorOr(ERROR_INVALID_HANDLE);
}

DWORD Win32Radio::getRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) {
  if (info == nullptr) return ERROR_INVALID_PARAMETER;
  return BluetoothGetRadioInfo(radio, info);
}

DWORD Win32Radio::getDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) {
  if (info == nullptr) return ERROR_INVALID_PARAMETER;
  return BluetoothGetDeviceInfo(radio, info);
}

DWORD Win32Radio::rememberedDevices(HANDLE radio, std::vector<BLUETOOTH_DEVICE_INFO>* devices) {
  devices->clear();
  // Remembered devices only, from the radio's own records: no inquiry.
  BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
  params.dwSize = sizeof params;
  params.fReturnRemembered = TRUE;
  params.hRadio = radio;
  BLUETOOTH_DEVICE_INFO info{};
  info.dwSize = sizeof info;
  const HBLUETOOTH_DEVICE_FIND found = BluetoothFindFirstDevice(&params, &info);
  if (found == nullptr) {
    const DWORD error = lastErrorOr(ERROR_NO_MORE_ITEMS);
    return error == ERROR_NO_MORE_ITEMS ? 0 : error;  // no remembered device
  }
  DeviceSearch search(found);
  // The list is what the search yields: it ends at the first device that cannot be
  // read, as the count of remembered devices always has.
  do {
    devices->push_back(info);
    info = BLUETOOTH_DEVICE_INFO{};
    info.dwSize = sizeof info;
  } while (BluetoothFindNextDevice(found, &info));
  return 0;
}

DWORD Win32Radio::setServiceState(HANDLE radio, const BLUETOOTH_DEVICE_INFO& device, const GUID& service, DWORD state) {
  // The system's declaration takes both records as writable; it reads them only.
  BLUETOOTH_DEVICE_INFO deviceCopy = device;
  GUID serviceCopy = service;
  return BluetoothSetServiceState(radio, &deviceCopy, &serviceCopy, state);
}

DWORD Win32Radio::listRadioInterfaces(std::vector<port::RadioInterface>* interfaces) {
  interfaces->clear();
  DeviceList list(interfaceClass_, DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_DEVICEINTERFACE);
  if (list.error() != 0) return list.error();
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(list.get(), nullptr, &interfaceClass_, index, &interfaceData);
       ++index) {
    port::RadioInterface entry;
    port::BusLookupStep step = port::BusLookupStep::kNone;
    DWORD detailBytes = 0;
    entry.detailError = readInterfacePath(list.get(), &interfaceData, &entry.path, &step, &detailBytes);
    if (entry.detailError != 0) entry.path.clear();
    interfaces->push_back(std::move(entry));
  }
  return 0;
}

DWORD Win32Radio::openRadioInterface(const wchar_t* path, HANDLE* handle) {
  *handle = INVALID_HANDLE_VALUE;
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  const HANDLE opened = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return lastErrorOr(ERROR_GEN_FAILURE);
  *handle = opened;
  return 0;
}

DWORD Win32Radio::listRadioDevices(DWORD descriptionUnits, std::vector<port::RadioDevice>* devices) {
  devices->clear();
  DeviceList list(interfaceClass_, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list.error() != 0) return list.error();
  SP_DEVINFO_DATA deviceData{};
  deviceData.cbSize = sizeof deviceData;
  std::vector<WCHAR> buffer(descriptionUnits);
  for (DWORD index = 0; SetupDiEnumDeviceInfo(list.get(), index, &deviceData); ++index) {
    port::RadioDevice entry;
    std::fill(buffer.begin(), buffer.end(), L'\0');
    DWORD type = 0;
    if (SetupDiGetDeviceRegistryPropertyW(list.get(), &deviceData, SPDRP_DEVICEDESC, &type,
                                          reinterpret_cast<BYTE*>(buffer.data()),
                                          static_cast<DWORD>(buffer.size() * sizeof(WCHAR)), nullptr)) {
      // The text ends at its terminator, or at the buffer's end if it has none.
      entry.description.assign(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
    } else {
      entry.descriptionError = lastErrorOr(ERROR_GEN_FAILURE);
    }
    devices->push_back(std::move(entry));
  }
  return 0;
}

DWORD Win32Radio::close(HANDLE handle) { return CloseHandle(handle) ? 0 : lastErrorOr(ERROR_INVALID_HANDLE); }

}  // namespace utils::win32port
