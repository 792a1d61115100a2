// The SQLite registry store: what GetRegisterDWORD costs on a warm store (open
// key, query value, close key), the same for a value or a machine file that does
// not exist, and a durable write (SetRegisterDWORD: create key, set value, close).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "port/linux/registry_store.h"

namespace {

using utils::linuxport::RegistryStore;

// A store on fresh files in a temporary folder, removed afterwards.
class BenchStore {
 public:
  explicit BenchStore(bool withMachineFile = true) {
    std::string pattern = (std::filesystem::temp_directory_path() / "utils-registry-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    // Below a plain file, the machine file can never be made.
    if (!withMachineFile) std::filesystem::create_directory(folder_ + "/missing.db");
    store_ = std::make_unique<RegistryStore>(
        withMachineFile ? folder_ + "/machine.db" : folder_ + "/missing.db/machine.db", folder_ + "/user.db");
  }
  ~BenchStore() {
    store_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  RegistryStore& operator*() { return *store_; }
  bool ok() const { return !folder_.empty(); }

 private:
  std::string folder_;
  std::unique_ptr<RegistryStore> store_;
};

DWORD getRegisterDword(RegistryStore& store, HKEY root, const wchar_t* path, const wchar_t* name, DWORD* value) {
  HKEY key = nullptr;
  DWORD error = store.openKey(root, path, KEY_QUERY_VALUE, &key);
  if (error != ERROR_SUCCESS) return error;
  DWORD size = sizeof *value;
  error = store.queryValue(key, name, nullptr, reinterpret_cast<BYTE*>(value), &size);
  store.closeKey(key);
  return error;
}

DWORD setRegisterDword(RegistryStore& store, HKEY root, const wchar_t* path, const wchar_t* name, DWORD value) {
  HKEY key = nullptr;
  DWORD error = store.createKey(root, path, KEY_WRITE, &key, nullptr);
  if (error != ERROR_SUCCESS) return error;
  error = store.setValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  store.closeKey(key);
  return error;
}

void BM_GetRegisterDwordWarm(benchmark::State& state) {
  BenchStore store;
  if (!store.ok() || setRegisterDword(*store, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug", 12) != 0) {
    state.SkipWithError("cannot set up the store");
    return;
  }
  DWORD value = 0;
  for (auto _ : state) {
    if (getRegisterDword(*store, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug", &value) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_GetRegisterDwordWarm);

void BM_GetRegisterDwordMissingValue(benchmark::State& state) {
  BenchStore store;
  if (!store.ok() || setRegisterDword(*store, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug", 12) != 0) {
    state.SkipWithError("cannot set up the store");
    return;
  }
  DWORD value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(getRegisterDword(*store, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"Absent", &value));
  }
}
BENCHMARK(BM_GetRegisterDwordMissingValue);

void BM_GetRegisterDwordNoMachineFile(benchmark::State& state) {
  BenchStore store(false);
  DWORD value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(getRegisterDword(*store, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug", &value));
  }
}
BENCHMARK(BM_GetRegisterDwordNoMachineFile);

// Every set is a durable commit (journal, file and folder synced).
void BM_SetRegisterDwordDurable(benchmark::State& state) {
  BenchStore store;
  DWORD value = 0;
  for (auto _ : state) {
    if (setRegisterDword(*store, HKEY_CURRENT_USER, L"Software\\vorlane", L"Counter", ++value) != 0) {
      state.SkipWithError("write failed");
      break;
    }
  }
}
BENCHMARK(BM_SetRegisterDwordDurable)->Unit(benchmark::kMillisecond);

// A read right after a write of the same file: the read goes to SQLite.
void BM_GetAfterSet(benchmark::State& state) {
  BenchStore store;
  DWORD value = 0;
  for (auto _ : state) {
    setRegisterDword(*store, HKEY_CURRENT_USER, L"Software\\vorlane", L"Counter", ++value);
    DWORD read = 0;
    benchmark::DoNotOptimize(getRegisterDword(*store, HKEY_CURRENT_USER, L"Software\\vorlane", L"Counter", &read));
  }
}
BENCHMARK(BM_GetAfterSet)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
