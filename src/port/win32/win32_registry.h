// The registry port on the Windows registry: each method is the one Win32 call
// of the same name, with its error code passed through.
#pragma once

#include "port/registry_port.h"

namespace utils::win32port {

class Win32Registry : public port::RegistryPort {
 public:
  DWORD openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result) override;
  DWORD createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) override;
  DWORD closeKey(HKEY key) override;
  DWORD queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) override;
  DWORD getValue(HKEY key, const wchar_t* subKey, const wchar_t* name, DWORD flags, DWORD* type, void* data,
                 DWORD* size) override;
  DWORD setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) override;
  DWORD deleteValue(HKEY key, const wchar_t* name) override;
  DWORD deleteKeyValue(HKEY key, const wchar_t* subKey, const wchar_t* name) override;
  DWORD deleteTree(HKEY key, const wchar_t* subKey) override;
  DWORD enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                  DWORD* dataSize) override;
  DWORD enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) override;
  DWORD queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) override;
};

}  // namespace utils::win32port
