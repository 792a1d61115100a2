// Whether a remote device's request may go ahead, decided from the registry on
// every call: the machine-wide switch, then the settings of the pair of local
// radio and remote device (allow all, a standing or one-time permission for the
// request code, a permission until a moment in time).
#include <cstdint>
#include <cstring>

#include "diag/export_guard.h"
#include "policy/policy_keys.h"
#include "port/platform.h"
#include "utils/policy.h"

namespace utils::policy {
namespace {

constexpr DWORD kOneTime = 1;
// A one-time permission that changed while it was being taken is decided again
// on its new data; more changes than this in one call count as no permission.
constexpr int kTakeAttempts = 3;

uint64_t littleEndian(const BYTE* bytes, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

bool skipPermitSet(port::RegistryPort& registry) {
  BYTE data[4] = {};
  DWORD size = sizeof data;
  const DWORD error = registry.getValue(HKEY_LOCAL_MACHINE, kSuiteKey, L"SkipPermit",
                                        RRF_RT_REG_DWORD | RRF_RT_REG_BINARY, nullptr, data, &size);
  return error == ERROR_SUCCESS && littleEndian(data, sizeof data) == 1;
}

// Reads a value of at most `width` bytes into a zeroed buffer, so that shorter
// data read zero-extended. False when it is absent, longer or unreadable.
bool readNumber(port::RegistryPort& registry, HKEY key, const wchar_t* name, size_t width, BYTE* data, DWORD* size) {
  std::memset(data, 0, width);
  *size = static_cast<DWORD>(width);
  return registry.queryValue(key, name, nullptr, data, size) == ERROR_SUCCESS;
}

// The request value: a standing permission grants; a one-time permission grants
// only to the call that deletes it, so that it grants exactly once even when
// several processes ask at the same moment.
bool requestValueGrants(port::RegistryPort& registry, HKEY key, const std::wstring& name) {
  for (int attempt = 0; attempt < kTakeAttempts; ++attempt) {
    BYTE data[4];
    DWORD size = 0;
    if (!readNumber(registry, key, name.c_str(), sizeof data, data, &size)) return false;
    const uint64_t value = littleEndian(data, sizeof data);
    if (value == 0) return false;
    if (value != kOneTime) return true;
    const DWORD taken = registry.takeValue(key, name.c_str(), data, size);
    if (taken == ERROR_SUCCESS) return true;
    // Changed since the read: decide on what is stored now. Gone (taken by
    // another caller) or not deletable: this permission grants nothing.
    if (taken != ERROR_INVALID_DATA) return false;
  }
  return false;
}

bool timeValueGrants(const port::Platform& platform, HKEY key, const std::wstring& name) {
  BYTE data[8];
  DWORD size = 0;
  if (!readNumber(*platform.registry, key, name.c_str(), sizeof data, data, &size)) return false;
  return littleEndian(data, sizeof data) >= platform.clock->systemTimeAsFileTime();
}

BOOL isRequestPermitted(const BYTE* localAddress, const BYTE* remoteAddress, WORD requestCode) {
  const port::Platform& platform = port::platform();
  port::RegistryPort& registry = *platform.registry;
  if (skipPermitSet(registry)) return TRUE;
  if (localAddress == nullptr || remoteAddress == nullptr) return FALSE;

  const std::wstring path = deviceKeyPath(bdAddrUpper(localAddress), bdAddrUpper(remoteAddress));
  port::ScopedKey device(registry);
  if (registry.openKey(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS, device.out()) != ERROR_SUCCESS) return FALSE;

  BYTE allowAll[8];
  DWORD size = 0;
  if (readNumber(registry, device.get(), L"AllowAll", sizeof allowAll, allowAll, &size) &&
      littleEndian(allowAll, sizeof allowAll) != 0) {
    return TRUE;
  }
  const std::wstring requestName = requestValueName(requestCode);
  if (requestValueGrants(registry, device.get(), requestName)) return TRUE;
  return timeValueGrants(platform, device.get(), requestName + L"_time") ? TRUE : FALSE;
}

}  // namespace
}  // namespace utils::policy

extern "C" UTILS_API BOOL IsRequestPermitted(const BYTE* localAddress, const BYTE* remoteAddress, WORD requestCode) {
  // A stopped exception (a failed allocation): no permission could be read.
  return utils::diag::guardExport("IsRequestPermitted", BOOL{FALSE}, [&] {
    return utils::policy::isRequestPermitted(localAddress, remoteAddress, requestCode);
  });
}
