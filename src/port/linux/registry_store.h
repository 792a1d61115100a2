// The registry on Linux: HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER each in one
// SQLite file (see RegistryFile), with the Win32 contract of RegistryPort.
// Handles are safe to use from several threads; every open gives a new handle.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "port/linux/registry_file.h"
#include "port/registry_port.h"

namespace utils::linuxport {

class RegistryStore : public port::RegistryPort {
 public:
  // The files are opened on first use, and created with their folders when
  // missing and writable. A machine file that is missing and cannot be made reads
  // as an empty registry and refuses writes with ERROR_ACCESS_DENIED.
  RegistryStore(const std::string& machinePath, const std::string& userPath);
  ~RegistryStore() override;
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // The store at the locations that the environment names (registryPathsFromEnvironment).
  static std::unique_ptr<RegistryStore> fromEnvironment();

  DWORD openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result) override;
  DWORD createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) override;
  DWORD closeKey(HKEY key) override;
  DWORD queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) override;
  DWORD setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) override;
  DWORD deleteValue(HKEY key, const wchar_t* name) override;
  // In one write transaction: no other process or thread can read or take the
  // value between the comparison and the deletion.
  DWORD takeValue(HKEY key, const wchar_t* name, const BYTE* expected, DWORD size) override;
  DWORD deleteTree(HKEY key, const wchar_t* subKey) override;
  // In one write transaction per call: all changes or none, durable once.
  DWORD applyChanges(HKEY key, const port::RegistryChange* changes, size_t count, size_t* failedIndex) override;
  DWORD enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                  DWORD* dataSize) override;
  DWORD enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) override;
  DWORD queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) override;

  // SQLite's full integrity check of the file behind a predefined root:
  // ERROR_SUCCESS when sound, else the error, with SQLite's findings in report.
  DWORD checkIntegrity(HKEY root, std::string* report);
  // The layout version of the file behind a predefined root (0: not open); for tests.
  int64_t fileLayout(HKEY root);
  // Handles still open (a leak check for tests).
  size_t openHandles() const;

 private:
  struct Handle {
    RegistryFile* file = nullptr;
    KeyRef key;
    REGSAM access = 0;
  };

  DWORD resolve(HKEY key, Handle* out) const;
  HKEY addHandle(RegistryFile* file, KeyRef key, REGSAM access);

  std::shared_ptr<RegistryFile> machine_;
  std::shared_ptr<RegistryFile> user_;
  mutable std::mutex handlesMutex_;
  std::unordered_map<uintptr_t, Handle> handles_;  // GUARDED_BY(handlesMutex_)
  uintptr_t nextHandle_ = 0x1000;                  // GUARDED_BY(handlesMutex_)
};

}  // namespace utils::linuxport
