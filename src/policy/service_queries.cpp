// Two read-only questions on the registry: does the suite support a service
// class, and is a file transfer client (a per-user shell folder whose class is
// registered for the user) registered for a device.
#include <cstdint>
#include <string>

#include "diag/export_guard.h"
#include "policy/policy_keys.h"
#include "port/platform.h"
#include "utils/policy.h"
#include "utils/trace.h"

namespace utils::policy {
namespace {

constexpr const wchar_t* kShellFoldersKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\CLSID\\";
constexpr const wchar_t* kUserClassesKey = L"SOFTWARE\\Classes\\CLSID\\";
constexpr DWORD kSubKeyNameChars = 260;

BOOL isLocalServiceSupported(const GUID* service) {
  if (service == nullptr) return FALSE;
  port::RegistryPort& registry = *port::platform().registry;
  const std::wstring name = guidText(*service);
  BYTE data[4] = {};
  DWORD size = sizeof data;
  if (registry.getValue(HKEY_LOCAL_MACHINE, kSupportListKey, name.c_str(), RRF_RT_REG_DWORD | RRF_RT_REG_BINARY,
                        nullptr, data, &size) != ERROR_SUCCESS) {
    return FALSE;
  }
  return (data[0] | data[1] | data[2] | data[3]) != 0 ? TRUE : FALSE;
}

// True when the shell folder subkey carries this device address in "BDAddr".
bool folderHasAddress(port::RegistryPort& registry, HKEY folders, const wchar_t* subKey, BtAddr device) {
  port::ScopedKey folder(registry);
  if (registry.openKey(folders, subKey, KEY_READ, folder.out()) != ERROR_SUCCESS) return false;
  BYTE data[8] = {};
  DWORD size = sizeof data;
  if (registry.queryValue(folder.get(), L"BDAddr", nullptr, data, &size) != ERROR_SUCCESS) return false;
  uint64_t stored = 0;
  for (int i = 7; i >= 0; --i) stored = (stored << 8) | data[i];
  return stored == device;
}

BOOL ftpClientRegistered(const BtAddr* device) {
  if (device == nullptr) {
    WRITELOG_W(4, L"utils", L"[FtpClientRegistered] Invalid argument!\n");
    return FALSE;
  }
  port::RegistryPort& registry = *port::platform().registry;
  port::ScopedKey folders(registry);
  if (registry.openKey(HKEY_CURRENT_USER, kShellFoldersKey, KEY_READ, folders.out()) != ERROR_SUCCESS) return FALSE;
  for (DWORD index = 0;; ++index) {
    wchar_t name[kSubKeyNameChars];
    DWORD nameChars = kSubKeyNameChars;
    if (registry.enumKey(folders.get(), index, name, &nameChars) != ERROR_SUCCESS) return FALSE;
    if (!folderHasAddress(registry, folders.get(), name, *device)) continue;
    // Only the first folder that carries the address decides.
    const std::wstring classPath = std::wstring(kUserClassesKey) + name;
    port::ScopedKey classKey(registry);
    return registry.openKey(HKEY_CURRENT_USER, classPath.c_str(), KEY_READ, classKey.out()) == ERROR_SUCCESS ? TRUE
                                                                                                             : FALSE;
  }
}

}  // namespace
}  // namespace utils::policy

extern "C" {

UTILS_API BOOL UTILS_BluetoothIsLocalServiceSupported(const GUID* service) {
  return utils::diag::guardExport("UTILS_BluetoothIsLocalServiceSupported", BOOL{FALSE},
                                  [service] { return utils::policy::isLocalServiceSupported(service); });
}

UTILS_API BOOL UTILS_FtpClientRegistered(const BtAddr* device) {
  return utils::diag::guardExport("UTILS_FtpClientRegistered", BOOL{FALSE},
                                  [device] { return utils::policy::ftpClientRegistered(device); });
}

}  // extern "C"
