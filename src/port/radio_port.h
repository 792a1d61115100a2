// The local Bluetooth radio and the remote devices it knows: the first radio, its
// information, a device's information, the remembered devices, a device's service
// switch, and the listing of the radio device interfaces. On Windows the Bluetooth
// radio functions and SetupAPI; on Linux the Bluetooth daemon over D-Bus.
#pragma once

#include <string>
#include <vector>

#include "utils/wintypes.h"

namespace utils::port {

// BluetoothSetServiceState's switch values (missing from some Windows headers).
inline constexpr DWORD kBluetoothServiceDisable = 0x00;
inline constexpr DWORD kBluetoothServiceEnable = 0x01;

// One present radio device interface, in enumeration order.
struct RadioInterface {
  DWORD detailError = 0;  // 0 when its path could be read; the path is then set
  std::wstring path;
};

// One present radio device with its description.
struct RadioDevice {
  DWORD descriptionError = 0;  // 0 when the description was read within the limit
  std::wstring description;
};

class RadioPort {
 public:
  virtual ~RadioPort() = default;

  // BluetoothFindFirstRadio: starts a radio search and gives the first radio's
  // handle. Returns 0 with both handles set, or the error (ERROR_NO_MORE_ITEMS when
  // there is no radio) with both null. The search is ended with findRadioClose; the
  // radio handle belongs to the caller and is released with close.
  virtual DWORD findFirstRadio(HANDLE* search, HANDLE* radio) = 0;

  // BluetoothFindRadioClose: ends a search from findFirstRadio.
  virtual DWORD findRadioClose(HANDLE search) = 0;

  // BluetoothGetRadioInfo: the caller sets info->dwSize to sizeof the record.
  // Returns 0 with the record filled, or the error; the record then holds whatever
  // the query left in it.
  virtual DWORD getRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) = 0;

  // BluetoothGetDeviceInfo: the caller sets info->dwSize and info->Address. Returns
  // 0 with the record filled (name, class, connected, remembered, authenticated),
  // or the error (ERROR_NOT_FOUND when the radio does not know the device).
  virtual DWORD getDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) = 0;

  // The devices the radio remembers (its paired devices), as a device search that
  // asks for remembered devices only, without inquiry. Returns 0 with the list
  // (empty when there are none), or the error with the list empty.
  virtual DWORD rememberedDevices(HANDLE radio, std::vector<BLUETOOTH_DEVICE_INFO>* devices) = 0;

  // BluetoothSetServiceState: switches one service class of a device on or off
  // (kBluetoothServiceEnable / kBluetoothServiceDisable). Returns 0, or the stack's
  // code: E_INVALIDARG (as a DWORD) for arguments the stack refuses,
  // ERROR_SERVICE_DOES_NOT_EXIST when the device offers no such service, others
  // (ERROR_NOT_AUTHENTICATED for a device that is not paired yet, ERROR_NOT_FOUND
  // for one the radio does not know: answers that may change, so that a caller
  // asks again later).
  virtual DWORD setServiceState(HANDLE radio, const BLUETOOTH_DEVICE_INFO& device, const GUID& service,
                                DWORD state) = 0;

  // The present radio device interfaces (GUID_BTHPORT_DEVICE_INTERFACE) in
  // enumeration order. Returns 0 with the list (empty when none is present), or the
  // error when the interface list cannot be made.
  virtual DWORD listRadioInterfaces(std::vector<RadioInterface>* interfaces) = 0;

  // Opens a radio interface path for reading and writing, shared, overlapped.
  // Returns 0 and the handle, or the error with *handle INVALID_HANDLE_VALUE.
  virtual DWORD openRadioInterface(const wchar_t* path, HANDLE* handle) = 0;

  // The present radio devices with their device descriptions, each read into at
  // most descriptionUnits UTF-16 units including the terminator (a longer one gives
  // ERROR_INSUFFICIENT_BUFFER in its entry). Returns 0 with the list, or the error
  // when the device list cannot be made.
  virtual DWORD listRadioDevices(DWORD descriptionUnits, std::vector<RadioDevice>* devices) = 0;

  // Releases a radio handle or a radio interface handle. ERROR_INVALID_HANDLE when
  // it is not one of this port's open handles.
  virtual DWORD close(HANDLE handle) = 0;
};

}  // namespace utils::port
