// IsRequestPermitted on a warm registry store (SQLite files in a temporary
// folder): a device without settings, one with "AllowAll", and one whose
// request is permitted by a time value.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/registry_store.h"
#include "port/platform.h"
#include "utils/policy.h"

namespace {

const BYTE kLocal[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const BYTE kBare[6] = {0x66, 0x77, 0x88, 0x99, 0xAA, 0x01};
const BYTE kAllowAll[6] = {0x66, 0x77, 0x88, 0x99, 0xAA, 0x02};
const BYTE kTimed[6] = {0x66, 0x77, 0x88, 0x99, 0xAA, 0x03};
constexpr WORD kCode = 0x1105;

class Store {
 public:
  Store() : folder_(makeFolder()), registry_(folder_ + "/machine.db", folder_ + "/user.db"), output_("stderr") {
    utils::port::Platform record;
    record.registry = &registry_;
    record.debugOutput = &output_;
    record.clock = &clock_;
    utils::port::installPlatform(record);
    set(L"SOFTWARE\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55\\66:77:88:99:AA:02", L"AllowAll", REG_QWORD, 1);
    set(L"SOFTWARE\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55\\66:77:88:99:AA:03", L"1105_time", REG_QWORD,
        clock_.systemTimeAsFileTime() + 36000000000ULL * 24);
  }
  ~Store() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  static std::string makeFolder() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/utils-permission-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }
  void set(const wchar_t* path, const wchar_t* name, DWORD type, uint64_t value) {
    HKEY key = nullptr;
    if (registry_.createKey(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, &key, nullptr) != 0) std::abort();
    BYTE data[8];
    for (int i = 0; i < 8; ++i) data[i] = static_cast<BYTE>(value >> (8 * i));
    registry_.setValue(key, name, type, data, 8);
    registry_.closeKey(key);
  }

  std::string folder_;
  utils::linuxport::RegistryStore registry_;
  utils::linuxport::LinuxDebugOutput output_;
  utils::linuxport::LinuxClock clock_;
};

void run(benchmark::State& state, const BYTE* remote, BOOL expected) {
  Store store;
  if (IsRequestPermitted(kLocal, remote, kCode) != expected) {
    state.SkipWithError("unexpected answer");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(IsRequestPermitted(kLocal, remote, kCode));
}

void BM_NoSettings(benchmark::State& state) { run(state, kBare, FALSE); }
void BM_AllowAll(benchmark::State& state) { run(state, kAllowAll, TRUE); }
void BM_TimeValue(benchmark::State& state) { run(state, kTimed, TRUE); }

BENCHMARK(BM_NoSettings);
BENCHMARK(BM_AllowAll);
BENCHMARK(BM_TimeValue);

}  // namespace

BENCHMARK_MAIN();
