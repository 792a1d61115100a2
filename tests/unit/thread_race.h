// Races threads at one gate: each starts `attempt` only once all are running.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

namespace utils::testing {

// How many of `count` threads racing with `attempt` succeeded.
template <typename Attempt>
int raceThreads(int count, Attempt attempt) {
  std::atomic<int> ready{0};
  std::atomic<int> succeeded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&] {
      ready.fetch_add(1);
      while (ready.load() < count) std::this_thread::yield();
      if (attempt()) succeeded.fetch_add(1);
    });
  }
  for (auto& thread : threads) thread.join();
  return succeeded.load();
}

}  // namespace utils::testing
