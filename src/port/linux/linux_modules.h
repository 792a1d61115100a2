// The module port on Linux: dlopen, dlsym and dlclose. A library that Windows
// names "X.dll" is loaded as "X.so"; a bare name is found by the dynamic
// loader's search order (LD_LIBRARY_PATH, the cache, the system folders).
#pragma once

#include "port/module_port.h"

namespace utils::linuxport {

class LinuxModules : public port::ModulePort {
 public:
  DWORD load(const wchar_t* name, HMODULE* module) override;
  DWORD entry(HMODULE module, const char* name, port::ModuleEntry* entry) override;
  DWORD release(HMODULE module) override;
};

}  // namespace utils::linuxport
