// Simulated run-time libraries: libraries the test defines by name, with their
// entries, and a record of what was loaded and released.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "port/module_port.h"

namespace utils::sim {

class SimModules : public port::ModulePort {
 public:
  DWORD load(const wchar_t* name, HMODULE* module) override;
  DWORD entry(HMODULE module, const char* name, port::ModuleEntry* entry) override;
  DWORD release(HMODULE module) override;

  // Makes a library loadable under name (exact text) with the given entries.
  void define(const std::wstring& name, std::map<std::string, port::ModuleEntry> entries = {});

  // Makes the libraries of that name unloadable again (they must not be loaded).
  void remove(const std::wstring& name);

  // Every name asked for, loaded or not, in order.
  std::vector<std::wstring> namesAsked() const;
  // Loads not yet balanced by a release.
  int openLoads() const;
  int releases() const;

 private:
  struct Library {
    std::wstring name;
    std::map<std::string, port::ModuleEntry> entries;
    int loads = 0;
  };
  Library* find(HMODULE module);

  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<Library>> libraries_;
  std::vector<std::wstring> namesAsked_;
  int releases_ = 0;
};

}  // namespace utils::sim
