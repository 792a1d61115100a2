#include "port/sim/sim_modules.h"

namespace utils::sim {

DWORD SimModules::load(const wchar_t* name, HMODULE* module) {
  std::lock_guard lock(mutex_);
  *module = nullptr;
  namesAsked_.emplace_back(name);
  for (auto& library : libraries_) {
    if (library->name == name) {
      ++library->loads;
      *module = reinterpret_cast<HMODULE>(library.get());
      return 0;
    }
  }
  return ERROR_MOD_NOT_FOUND;
}

SimModules::Library* SimModules::find(HMODULE module) {
  for (auto& library : libraries_) {
    if (reinterpret_cast<HMODULE>(library.get()) == module && library->loads > 0) return library.get();
  }
  return nullptr;
}

DWORD SimModules::entry(HMODULE module, const char* name, port::ModuleEntry* entry) {
  std::lock_guard lock(mutex_);
  *entry = nullptr;
  Library* library = find(module);
  if (library == nullptr) return ERROR_INVALID_HANDLE;
  const auto found = library->entries.find(name);
  if (found == library->entries.end()) return ERROR_PROC_NOT_FOUND;
  *entry = found->second;
  return 0;
}

DWORD SimModules::release(HMODULE module) {
  std::lock_guard lock(mutex_);
  Library* library = find(module);
  if (library == nullptr) return ERROR_INVALID_HANDLE;
  --library->loads;
  ++releases_;
  return 0;
}

void SimModules::define(const std::wstring& name, std::map<std::string, port::ModuleEntry> entries) {
  std::lock_guard lock(mutex_);
  auto library = std::make_unique<Library>();
  library->name = name;
  library->entries = std::move(entries);
  libraries_.push_back(std::move(library));
}

void SimModules::remove(const std::wstring& name) {
  std::lock_guard lock(mutex_);
  std::erase_if(libraries_, [&name](const auto& library) { return library->name == name && library->loads == 0; });
}

std::vector<std::wstring> SimModules::namesAsked() const {
  std::lock_guard lock(mutex_);
  return namesAsked_;
}

int SimModules::openLoads() const {
  std::lock_guard lock(mutex_);
  int total = 0;
  for (const auto& library : libraries_) total += library->loads;
  return total;
}

int SimModules::releases() const {
  std::lock_guard lock(mutex_);
  return releases_;
}

}  // namespace utils::sim
