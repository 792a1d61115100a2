// The module port on Windows: LoadLibraryW, GetProcAddress and FreeLibrary.
#pragma once

#include "port/module_port.h"

namespace utils::win32port {

class Win32Modules : public port::ModulePort {
 public:
  DWORD load(const wchar_t* name, HMODULE* module) override;
  DWORD entry(HMODULE module, const char* name, port::ModuleEntry* entry) override;
  DWORD release(HMODULE module) override;
};

}  // namespace utils::win32port
