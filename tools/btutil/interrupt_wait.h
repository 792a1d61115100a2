// What the commands that follow something until interrupted share: the local
// time of each printed line, and a wait for Ctrl-C, SIGTERM or a time limit.
#pragma once

#include <signal.h>

#include <string>

namespace utils::btutil {

// "2026-12-07 00:05:37.123", local time.
std::string timestamp();

// Blocks SIGINT and SIGTERM in the calling thread from construction on (and so
// in every thread the library starts from it afterwards: make it before the
// library's set-up), until destroyed.
class InterruptWait {
 public:
  InterruptWait();
  ~InterruptWait();
  InterruptWait(const InterruptWait&) = delete;
  InterruptWait& operator=(const InterruptWait&) = delete;

  // Waits for one of the two signals, or for seconds (negative: no limit).
  void wait(long long seconds);

 private:
  sigset_t set_;
  sigset_t previous_;
};

}  // namespace utils::btutil
