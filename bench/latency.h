// Latency figures that the benchmarks report: the median and 99th percentile
// of a run's samples, in microseconds, as the counters PREFIXmedian_us and
// PREFIXp99_us.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace utils::bench {

inline double microseconds(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double, std::micro>(elapsed).count();
}

inline void reportLatency(benchmark::State& state, std::vector<double>& samples, const std::string& prefix = "") {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters[prefix + "median_us"] = samples[samples.size() / 2];
  state.counters[prefix + "p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
}

}  // namespace utils::bench
