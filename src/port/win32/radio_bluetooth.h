// The radio port on Windows: the Bluetooth radio and device functions, and
// SetupAPI for the listing of the radio device interfaces and their devices.
// Radio and interface handles are real handles, released by callers with the
// system's CloseHandle.
#pragma once

#include "port/radio_port.h"

namespace utils::win32port {

// The radio device interface class (GUID_BTHPORT_DEVICE_INTERFACE),
// {0850302A-B344-4FDA-9BE9-90576B8D46F0}.
inline constexpr GUID kRadioInterfaceClass = {
    0x0850302A, 0xB344, 0x4FDA, {0x9B, 0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0}};

class Win32Radio : public port::RadioPort {
 public:
  // The interface class that the two listings look at; the radio's unless a test
  // names another.
  explicit Win32Radio(const GUID& interfaceClass = kRadioInterfaceClass) : interfaceClass_(interfaceClass) {}

  DWORD findFirstRadio(HANDLE* search, HANDLE* radio) override;  // BluetoothFindFirstRadio
  DWORD findRadioClose(HANDLE search) override;                  // BluetoothFindRadioClose
  DWORD getRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) override;
  DWORD getDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) override;
  DWORD rememberedDevices(HANDLE radio, std::vector<BLUETOOTH_DEVICE_INFO>* devices) override;
  DWORD setServiceState(HANDLE radio, const BLUETOOTH_DEVICE_INFO& device, const GUID& service, DWORD state) override;
  DWORD listRadioInterfaces(std::vector<port::RadioInterface>* interfaces) override;
  DWORD openRadioInterface(const wchar_t* path, HANDLE* handle) override;  // CreateFileW, overlapped
  DWORD listRadioDevices(DWORD descriptionUnits, std::vector<port::RadioDevice>* devices) override;
  DWORD close(HANDLE handle) override;  // CloseHandle

 private:
  GUID interfaceClass_;
};

}  // namespace utils::win32port
