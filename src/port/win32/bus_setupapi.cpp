#include "port/win32/bus_setupapi.h"

#include <cstddef>
#include <cstdlib>
#include <cwchar>
#include <memory>

namespace utils::win32port {

DWORD lastErrorOr(DWORD fallback) {
  const DWORD error = GetLastError();
  return error != 0 ? error : fallback;
}

DeviceList::DeviceList(const GUID& interfaceClass, DWORD flags)
    : list_(SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr, flags)) {
  if (list_ == INVALID_HANDLE_VALUE) error_ = lastErrorOr(ERROR_GEN_FAILURE);
}

DeviceList::~DeviceList() {
  if (list_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list_);
}

DWORD readInterfacePath(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* interfaceData, std::wstring* path,
                        port::BusLookupStep* failedStep, DWORD* detailBytes) {
  // The size query succeeds only by failing with ERROR_INSUFFICIENT_BUFFER.
  DWORD required = 0;
  if (SetupDiGetDeviceInterfaceDetailW(list, interfaceData, nullptr, 0, &required, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    *failedStep = port::BusLookupStep::kDetailSize;
    return lastErrorOr(ERROR_INVALID_DATA);
  }
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
    *failedStep = port::BusLookupStep::kDetailSize;
    return ERROR_INVALID_DATA;
  }
  *detailBytes = required;
  // malloc: the record is variable-sized and needs the alignment of its DWORD.
  std::unique_ptr<void, decltype(&std::free)> memory(std::malloc(required), &std::free);
  if (memory == nullptr) {
    *failedStep = port::BusLookupStep::kDetailAlloc;
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(memory.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);  // the fixed part only
  if (!SetupDiGetDeviceInterfaceDetailW(list, interfaceData, detail, required, nullptr, nullptr)) {
    *failedStep = port::BusLookupStep::kDetail;
    return lastErrorOr(ERROR_GEN_FAILURE);
  }
  // The path fills the rest of the record; it is bounded by it even if a
  // terminator were missing.
  const size_t maxUnits = (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR);
  path->assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxUnits));
  *failedStep = port::BusLookupStep::kNone;
  return 0;
}

}  // namespace utils::win32port
