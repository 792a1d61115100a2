// Brings one paired device up to date with the suite's support list: every
// service class marked supported and not yet enabled for the device on this
// radio is switched on in the Bluetooth stack and recorded per user; classes
// marked unsupported lose their record. Every outcome is a trace line.
#include <cstdint>
#include <string>

#include "diag/export_guard.h"
#include "policy/policy_keys.h"
#include "port/platform.h"
#include "utils/policy.h"
#include "utils/trace.h"

namespace utils::policy {
namespace {

constexpr const wchar_t* kModule = L"utils";
constexpr int kLevel = 4;
// The support list's key as this function spells it (key names compare
// without regard to case).
constexpr const wchar_t* kSupportedKey = L"SOFTWARE\\VORLANE\\Pelmora\\Supported";
constexpr DWORD kGuidNameChars = 38;
constexpr DWORD kNameBufferChars = 40;

// Releases the radio handle from the first-radio search.
class RadioHandle {
 public:
  explicit RadioHandle(port::RadioPort& radio) : radio_(radio) {}
  ~RadioHandle() {
    if (handle_ != nullptr) radio_.close(handle_);
  }
  RadioHandle(const RadioHandle&) = delete;
  RadioHandle& operator=(const RadioHandle&) = delete;
  HANDLE* out() { return &handle_; }
  HANDLE get() const { return handle_; }

 private:
  port::RadioPort& radio_;
  HANDLE handle_ = nullptr;
};

std::wstring installedRecordPath(BtAddr radio, BtAddr device) {
  wchar_t radioText[30];
  wchar_t deviceText[30];
  BT2Lptstr(radioText, &radio);
  BT2Lptstr(deviceText, &device);
  return std::wstring(L"Software\\Vorlane\\Pelmora\\Devices\\") + radioText + L"\\" + deviceText +
         L"\\InstalledServices";
}

void recordService(port::RegistryPort& registry, HKEY installed, const wchar_t* name) {
  const BYTE one[4] = {1, 0, 0, 0};
  if (const DWORD error = registry.setValue(installed, name, REG_DWORD, one, sizeof one)) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] Failed to set installed service %s - %#x", name, error);
  }
}

// A record that is not there needs no removal: only real failures are traced.
void removeRecord(port::RegistryPort& registry, HKEY installed, const wchar_t* name) {
  const DWORD error = registry.deleteValue(installed, name);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] Failed to delete installed service %s - %#x", name, error);
  }
}

void enableSupported(port::RegistryPort& registry, port::RadioPort& radio, HANDLE radioHandle,
                     const BLUETOOTH_DEVICE_INFO& device, HKEY installed, const wchar_t* name) {
  const DWORD present = registry.queryValue(installed, name, nullptr, nullptr, nullptr);
  if (present == ERROR_SUCCESS) return;  // enabled before
  if (present != ERROR_FILE_NOT_FOUND) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] Failed to query installed service %s - %#x", name, present);
    return;
  }
  GUID service{};
  if (!parseGuidText(name, &service)) return;
  const DWORD result = radio.setServiceState(radioHandle, device, service, port::kBluetoothServiceEnable);
  if (result == ERROR_SUCCESS) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] BluetoothSetServiceState(%s, BLUETOOTH_SERVICE_ENABLE) succeeded",
               name);
    recordService(registry, installed, name);
    return;
  }
  WRITELOG_W(kLevel, kModule,
             L"[EnableNewServices] BluetoothSetServiceState(%s, BLUETOOTH_SERVICE_ENABLE) failed - %#x", name, result);
  if (result == static_cast<DWORD>(E_INVALIDARG)) {
    // The stack will refuse it every time: record it so it is not asked again.
    recordService(registry, installed, name);
  } else if (result == ERROR_SERVICE_DOES_NOT_EXIST) {
    removeRecord(registry, installed, name);
  }
  // Any other refusal keeps no record: the service is tried again next time.
}

void enableNewServices(const BtAddr* deviceAddress) {
  if (deviceAddress == nullptr) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] Invalid arguments!");
    return;
  }
  const port::Platform& platform = port::platform();
  port::RegistryPort& registry = *platform.registry;
  if (platform.radio == nullptr) {  // no radio support on this platform: no radio
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] BluetoothFindFirstRadio failed - %#x",
               static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return;
  }
  port::RadioPort& radio = *platform.radio;

  RadioHandle radioHandle(radio);
  HANDLE search = nullptr;
  if (const DWORD error = radio.findFirstRadio(&search, radioHandle.out())) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] BluetoothFindFirstRadio failed - %#x", error);
    return;
  }
  radio.findRadioClose(search);

  BLUETOOTH_RADIO_INFO radioInfo{};
  radioInfo.dwSize = sizeof radioInfo;
  if (const DWORD error = radio.getRadioInfo(radioHandle.get(), &radioInfo)) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] BluetoothGetRadioInfo failed - %#x", error);
    return;
  }
  BLUETOOTH_DEVICE_INFO device{};
  device.dwSize = sizeof device;
  device.Address.ullLong = *deviceAddress;
  if (const DWORD error = radio.getDeviceInfo(radioHandle.get(), &device)) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] BluetoothGetDeviceInfo failed - %#x", error);
    return;
  }

  port::ScopedKey supported(registry);
  if (registry.openKey(HKEY_LOCAL_MACHINE, kSupportedKey, KEY_READ, supported.out()) != ERROR_SUCCESS) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices] Failed to open support reg key");
    return;
  }
  const std::wstring installedPath = installedRecordPath(radioInfo.address.ullLong, *deviceAddress);
  port::ScopedKey installed(registry);
  if (registry.createKey(HKEY_CURRENT_USER, installedPath.c_str(), KEY_ALL_ACCESS, installed.out(), nullptr) !=
      ERROR_SUCCESS) {
    WRITELOG_W(kLevel, kModule, L"[EnableNewServices Failed to open installed service reg key");
    return;
  }

  // The count taken now bounds the walk; values added meanwhile wait for the next call.
  DWORD count = 0;
  if (registry.queryInfoKey(supported.get(), nullptr, &count) != ERROR_SUCCESS) return;
  for (DWORD index = 0; index < count; ++index) {
    wchar_t name[kNameBufferChars];
    DWORD nameChars = kNameBufferChars;
    DWORD type = REG_NONE;
    BYTE data[4] = {};
    DWORD dataSize = sizeof data;
    if (registry.enumValue(supported.get(), index, name, &nameChars, &type, data, &dataSize) != ERROR_SUCCESS ||
        type != REG_DWORD || nameChars != kGuidNameChars) {
      continue;
    }
    const uint32_t value =
        uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
    if (value == 0) {
      removeRecord(registry, installed.get(), name);
    } else {
      enableSupported(registry, radio, radioHandle.get(), device, installed.get(), name);
    }
  }
}

}  // namespace
}  // namespace utils::policy

// A stopped exception (a failed allocation) records nothing: the next call tries again.
extern "C" UTILS_API void UTILS_EnableNewServices(const BtAddr* device) {
  utils::diag::guardExport("UTILS_EnableNewServices", [device] { utils::policy::enableNewServices(device); });
}
