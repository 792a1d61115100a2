// The phones' modems: present devices of the modem setup class under the
// Bluetooth enumerator, with their Bluetooth address and friendly name.
#include <windows.h>
/* after windows.h, which they need */
#include <devpropdef.h>
#include <setupapi.h>

#include <vector>

#include "port/win32/ras_dialup.h"

namespace utils::win32port {
namespace {

constexpr GUID kModemClass = {0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// The device's Bluetooth address as text.
constexpr DEVPROPKEY kBluetoothAddress = {
    {0x2BD67D8B, 0x8BEB, 0x48D5, {0x87, 0xE0, 0x6C, 0xDA, 0x34, 0x28, 0x04, 0x0A}}, 1};
constexpr DEVPROPKEY kFriendlyName = {{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}},
                                      14};

class ModemList {
 public:
  ModemList() : list_(SetupDiGetClassDevsW(&kModemClass, L"BTHENUM", nullptr, DIGCF_PRESENT)) {}
  ~ModemList() {
    if (list_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list_);
  }
  ModemList(const ModemList&) = delete;
  ModemList& operator=(const ModemList&) = delete;
  HDEVINFO get() const { return list_; }

 private:
  HDEVINFO list_;
};

// Reads a text property into units UTF-16 units at most (the terminator
// included); the buffer is twice that and zeroed, so the text always ends.
DWORD readText(HDEVINFO list, SP_DEVINFO_DATA* device, const DEVPROPKEY& key, DWORD units, std::wstring* text) {
  std::vector<WCHAR> buffer(static_cast<size_t>(units) * 2, 0);
  DEVPROPTYPE type = 0;
  if (!SetupDiGetDevicePropertyW(list, device, &key, &type, reinterpret_cast<PBYTE>(buffer.data()),
                                 units * sizeof(WCHAR), nullptr, 0)) {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  *text = buffer.data();
  return 0;
}

}  // namespace

DWORD Win32Dialup::listModems(DWORD propertyUnits, std::vector<port::ModemDevice>* modems) {
  modems->clear();
  ModemList list;
  if (list.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(list.get(), index, &device); ++index) {
    port::ModemDevice modem;
    modem.addressError = readText(list.get(), &device, kBluetoothAddress, propertyUnits, &modem.address);
    modem.nameError = readText(list.get(), &device, kFriendlyName, propertyUnits, &modem.friendlyName);
    modems->push_back(std::move(modem));
  }
  return 0;
}

}  // namespace utils::win32port
