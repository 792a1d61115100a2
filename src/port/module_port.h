// Libraries loaded at run time: loading by name or path, looking up an entry, and
// releasing. LoadLibraryW on Windows; dlopen on Linux, where a library named
// "X.dll" is looked up as "X.so" (bare names by the loader's search order).
#pragma once

#include "utils/wintypes.h"

namespace utils::port {

// An entry of a loaded library; the caller casts it to the entry's real type.
using ModuleEntry = void (*)();

class ModulePort {
 public:
  virtual ~ModulePort() = default;

  // Loads a library by bare name (default search order) or full path. Returns 0
  // and the module, or the error (ERROR_MOD_NOT_FOUND when there is no such
  // library) with *module null. Each success is balanced by one release; a module
  // handed to an outside caller is theirs to release with FreeLibrary.
  virtual DWORD load(const wchar_t* name, HMODULE* module) = 0;

  // Looks up a named entry (narrow export name). Returns 0 and the entry, or the
  // error (ERROR_PROC_NOT_FOUND) with *entry null.
  virtual DWORD entry(HMODULE module, const char* name, ModuleEntry* entry) = 0;

  // Releases one load of the module. Its entries must not be used afterwards.
  virtual DWORD release(HMODULE module) = 0;
};

}  // namespace utils::port
