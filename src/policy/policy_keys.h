// The registry keys that the policy functions share, and the texts that name
// devices and service classes in them.
#pragma once

#include <string>

#include "utils/address.h"
#include "utils/wintypes.h"

namespace utils::policy {

// HKEY_LOCAL_MACHINE: the machine-wide switch "SkipPermit".
inline constexpr const wchar_t* kSuiteKey = L"SOFTWARE\\Vorlane\\Pelmora";
// HKEY_LOCAL_MACHINE: one REG_DWORD per service class, named by its GUID text.
inline constexpr const wchar_t* kSupportListKey = L"SOFTWARE\\Vorlane\\Pelmora\\Supported";
// HKEY_CURRENT_USER: one key per pair of local radio and remote device.
inline constexpr const wchar_t* kDevicesKey = L"SOFTWARE\\Vorlane\\Pelmora\\Devices";

// "00:11:22:33:44:55": a BdAddr (most significant byte first) with upper-case digits.
std::wstring bdAddrUpper(const BYTE* address);

// The per-device key below HKEY_CURRENT_USER for two address texts.
std::wstring deviceKeyPath(const std::wstring& local, const std::wstring& remote);

// A request code in lower-case hexadecimal without leading zeros ("1105", "0").
std::wstring requestValueName(WORD code);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case digits, as
// StringFromGUID2 prints it (38 characters).
std::wstring guidText(const GUID& guid);

// Reads the registry form of a GUID, braces required, digits in either case, as
// CLSIDFromString does for it. False for anything else.
bool parseGuidText(const wchar_t* text, GUID* guid);

}  // namespace utils::policy
