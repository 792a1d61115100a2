// The cost of trace calls: a call whose filter is off must cost no more than a
// bit test; a call that writes costs formatting plus one output write.
#include <benchmark/benchmark.h>

#include "diag/debug_settings.h"
#include "port/sim/sim_platform.h"
#include "utils/trace.h"

namespace {

// A debugger output that drops everything, so only the library's work is timed.
class NullOutput : public utils::port::DebugOutputPort {
 public:
  void writeLogLine(int, const char*, const char* line) override { benchmark::DoNotOptimize(line); }
  void writeNarrow(const char* text) override { benchmark::DoNotOptimize(text); }
  void writeWide(const wchar_t* text) override { benchmark::DoNotOptimize(text); }
  bool wideToOem(const wchar_t* text, char* destination, size_t capacity) override {
    size_t i = 0;
    for (; text[i] != 0 && i + 1 < capacity; ++i) destination[i] = static_cast<char>(text[i]);
    destination[i] = '\0';
    return true;
  }
};

struct Setup {
  explicit Setup(DWORD logDebug, DWORD appDebug) {
    utils::port::installPlatform(utils::port::Platform{&sim.registry, &output, &sim.clock});
    utils::diag::resetDebugSettings();
    HKEY key = nullptr;
    sim.registry.createKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_WRITE, &key, nullptr);
    const BYTE log[4] = {BYTE(logDebug), 0, 0, 0};
    const BYTE app[4] = {BYTE(appDebug), 0, 0, 0};
    sim.registry.setValue(key, L"LogDebug", REG_DWORD, log, 4);
    sim.registry.setValue(key, L"EnableAppDebug", REG_DWORD, app, 4);
    sim.registry.closeKey(key);
    utils::diag::processAttach();
    utils::diag::GetAppDebugMask();
  }
  utils::sim::SimPlatform sim;
  NullOutput output;
};

void BM_WriteLogFilteredOut(benchmark::State& state) {
  Setup setup(0, 0);
  for (auto _ : state) WRITELOG_A(4, "utils", "value %d", 42);
}
BENCHMARK(BM_WriteLogFilteredOut);

void BM_WriteLogWideFilteredOut(benchmark::State& state) {
  Setup setup(0, 0);
  for (auto _ : state) WRITELOG_W(4, L"utils", L"value %d", 42);
}
BENCHMARK(BM_WriteLogWideFilteredOut);

void BM_TraceFilteredOut(benchmark::State& state) {
  Setup setup(0, 0);
  for (auto _ : state) VRLN_BT_TRACE("value %d", 42);
}
BENCHMARK(BM_TraceFilteredOut);

void BM_WriteLogWritten(benchmark::State& state) {
  Setup setup(4, 0);
  for (auto _ : state) WRITELOG_A(4, "utils", "value %d", 42);
}
BENCHMARK(BM_WriteLogWritten);

void BM_WriteLogWideWritten(benchmark::State& state) {
  Setup setup(4, 0);
  for (auto _ : state) WRITELOG_W(4, L"utils", L"device %s value %d", L"00:1a:7d:da:71:13", 42);
}
BENCHMARK(BM_WriteLogWideWritten);

void BM_XadDecode(benchmark::State& state) {
  DWORD value = 0;
  for (auto _ : state) benchmark::DoNotOptimize(XAD_Decode(value++, "T"));
}
BENCHMARK(BM_XadDecode);

}  // namespace

BENCHMARK_MAIN();
