#include "port/win32/win32_modules.h"

#include <windows.h>

namespace utils::win32port {

DWORD Win32Modules::load(const wchar_t* name, HMODULE* module) {
  *module = LoadLibraryW(name);
  if (*module != nullptr) return 0;
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_MOD_NOT_FOUND;
}

DWORD Win32Modules::entry(HMODULE module, const char* name, port::ModuleEntry* entry) {
  *entry = reinterpret_cast<port::ModuleEntry>(GetProcAddress(module, name));
  if (*entry != nullptr) return 0;
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_PROC_NOT_FOUND;
}

DWORD Win32Modules::release(HMODULE module) { return FreeLibrary(module) ? 0 : GetLastError(); }

}  // namespace utils::win32port
