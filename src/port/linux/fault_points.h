// A table of injected failures for the narrow seams through which adapters
// reach the outside (SQLite, the file system). A test arms a call to fail with a
// chosen code after some calls pass; the untested path costs one relaxed load.
// Process-wide; for tests only.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>

namespace utils::linuxport {

template <size_t kCalls>
class FaultPoints {
 public:
  // After `skip` more calls of `call` pass, the following `count` calls (0:
  // every call from then on) fail with `code`.
  void inject(size_t call, int code, int count, int skip) {
    std::lock_guard lock(mutex_);
    faults_[call] = Fault{code, skip, count == 0 ? -1 : count};
    armed_.store(true, std::memory_order_relaxed);
  }
  void clear() {
    std::lock_guard lock(mutex_);
    faults_ = {};
    failures_ = 0;
    armed_.store(false, std::memory_order_relaxed);
  }
  // How many calls failed by injection since the last clear.
  int failures() {
    std::lock_guard lock(mutex_);
    return failures_;
  }
  // The code this call of `call` fails with, or 0 to go ahead.
  int next(size_t call) {
    if (!armed_.load(std::memory_order_relaxed)) return 0;
    std::lock_guard lock(mutex_);
    Fault& fault = faults_[call];
    if (fault.remaining == 0) return 0;
    if (fault.skip > 0) {
      --fault.skip;
      return 0;
    }
    if (fault.remaining > 0) --fault.remaining;
    ++failures_;
    return fault.code;
  }

 private:
  struct Fault {
    int code = 0;
    int skip = 0;
    int remaining = 0;  // -1: every call
  };
  std::atomic<bool> armed_{false};
  std::mutex mutex_;
  std::array<Fault, kCalls> faults_{};  // GUARDED_BY(mutex_)
  int failures_ = 0;                    // GUARDED_BY(mutex_)
};

}  // namespace utils::linuxport
