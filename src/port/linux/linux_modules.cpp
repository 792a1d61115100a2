#include "port/linux/linux_modules.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <string>

#include "common/utf16.h"
#include "port/module_names.h"

namespace utils::linuxport {

DWORD LinuxModules::load(const wchar_t* name, HMODULE* module) {
  *module = nullptr;
  if (name == nullptr || name[0] == L'\0') return ERROR_INVALID_PARAMETER;
  const std::string path = wideToUtf8(port::sharedObjectName(name));
  // A name with a NUL inside would load a different, shorter name.
  if (path.find('\0') != std::string::npos) return ERROR_INVALID_PARAMETER;
  // A path must name a regular file: the loader's open of a FIFO would wait for a
  // writer for ever, and a device is no library.
  if (path.find('/') != std::string::npos) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return ERROR_MOD_NOT_FOUND;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return ERROR_MOD_NOT_FOUND;
  *module = static_cast<HMODULE>(handle);
  return ERROR_SUCCESS;
}

DWORD LinuxModules::entry(HMODULE module, const char* name, port::ModuleEntry* entry) {
  *entry = nullptr;
  if (module == nullptr || name == nullptr) return ERROR_INVALID_PARAMETER;
  dlerror();
  void* symbol = dlsym(module, name);
  if (symbol == nullptr) return ERROR_PROC_NOT_FOUND;
  *entry = reinterpret_cast<port::ModuleEntry>(symbol);
  return ERROR_SUCCESS;
}

DWORD LinuxModules::release(HMODULE module) {
  if (module == nullptr) return ERROR_INVALID_HANDLE;
  return dlclose(module) == 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace utils::linuxport
