#include "port/win32/win32_registry.h"

#include <windows.h>

namespace utils::win32port {
namespace {

// The registry functions return LSTATUS (a LONG holding a Win32 error code).
DWORD result(LSTATUS status) { return static_cast<DWORD>(status); }

}  // namespace

// A null handle pointer is refused here: not every registry implementation checks
// it before writing through it.
DWORD Win32Registry::openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* opened) {
  if (opened == nullptr) return ERROR_INVALID_PARAMETER;
  return result(RegOpenKeyExW(root, subKey, 0, access, opened));
}

DWORD Win32Registry::createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* created, DWORD* disposition) {
  if (created == nullptr) return ERROR_INVALID_PARAMETER;
  return result(
      RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, created, disposition));
}

DWORD Win32Registry::closeKey(HKEY key) { return result(RegCloseKey(key)); }

DWORD Win32Registry::queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) {
  return result(RegQueryValueExW(key, name, nullptr, type, data, size));
}

DWORD Win32Registry::getValue(HKEY key, const wchar_t* subKey, const wchar_t* name, DWORD flags, DWORD* type,
                              void* data, DWORD* size) {
  return result(RegGetValueW(key, subKey, name, flags, type, data, size));
}

DWORD Win32Registry::setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
  return result(RegSetValueExW(key, name, 0, type, data, size));
}

DWORD Win32Registry::deleteValue(HKEY key, const wchar_t* name) { return result(RegDeleteValueW(key, name)); }

DWORD Win32Registry::deleteKeyValue(HKEY key, const wchar_t* subKey, const wchar_t* name) {
  return result(RegDeleteKeyValueW(key, subKey, name));
}

DWORD Win32Registry::deleteTree(HKEY key, const wchar_t* subKey) { return result(RegDeleteTreeW(key, subKey)); }

DWORD Win32Registry::enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                               DWORD* dataSize) {
  return result(RegEnumValueW(key, index, name, nameChars, nullptr, type, data, dataSize));
}

DWORD Win32Registry::enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) {
  return result(RegEnumKeyExW(key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr));
}

DWORD Win32Registry::queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) {
  return result(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values, nullptr, nullptr,
                                 nullptr, nullptr));
}

}  // namespace utils::win32port
