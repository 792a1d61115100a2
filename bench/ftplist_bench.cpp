// Building and taking apart a file-name list block of 100,000 names, against a
// memcpy of the same bytes (bytes per second of the block, both ways).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utils/transfer.h"

namespace {

constexpr size_t kNames = 100000;

struct Names {
  Names() {
    for (size_t i = 0; i < kNames; ++i) {
      // Names of 12 to 40 units, as folders of photos and documents have them.
      std::string ascii = "IMG_" + std::to_string(i) + std::string(8 + i % 29, 'x') + ".jpg";
      texts.emplace_back(ascii.begin(), ascii.end());
    }
    for (const auto& text : texts) pointers.push_back(text.c_str());
  }
  std::vector<std::basic_string<FTPCHAR>> texts;
  std::vector<const FTPCHAR*> pointers;
};

const Names& names() {
  static const Names instance;
  return instance;
}

DWORD blockSize() { return CalcFtpFileListSize(nullptr, names().pointers.data(), kNames); }

void BM_BuildFtpFileList(benchmark::State& state) {
  const DWORD size = blockSize();
  for (auto _ : state) {
    void* block = BuildFtpFileList(nullptr, names().pointers.data(), kNames);
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

void BM_GetFtpFileList(benchmark::State& state) {
  const DWORD size = blockSize();
  void* block = BuildFtpFileList(nullptr, names().pointers.data(), kNames);
  for (auto _ : state) {
    FTPCHAR** array = nullptr;
    DWORD count = 0;
    GetFtpFileList(block, nullptr, &array, &count);
    benchmark::DoNotOptimize(array);
    std::free(array);
  }
  std::free(block);
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

// The reference: the same number of bytes copied into a new allocation.
void BM_MemcpySameBytes(benchmark::State& state) {
  const DWORD size = blockSize();
  void* source = BuildFtpFileList(nullptr, names().pointers.data(), kNames);
  for (auto _ : state) {
    void* copy = std::malloc(size);
    std::memcpy(copy, source, size);
    benchmark::DoNotOptimize(copy);
    std::free(copy);
  }
  std::free(source);
  state.SetBytesProcessed(int64_t(state.iterations()) * size);
}

BENCHMARK(BM_BuildFtpFileList);
BENCHMARK(BM_GetFtpFileList);
BENCHMARK(BM_MemcpySameBytes);

}  // namespace

BENCHMARK_MAIN();
