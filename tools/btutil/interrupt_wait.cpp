#include "interrupt_wait.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace utils::btutil {

std::string timestamp() {
  const auto now = std::chrono::system_clock::now();
  const time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  tm local{};
  localtime_r(&seconds, &local);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
  return text;
}

InterruptWait::InterruptWait() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
}

InterruptWait::~InterruptWait() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void InterruptWait::wait(long long seconds) {
  if (seconds < 0) {
    int received = 0;
    sigwait(&set_, &received);
    return;
  }
  timespec timeout{static_cast<time_t>(seconds), 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (sigtimedwait(&set_, nullptr, &timeout) < 0 && errno == EINTR) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timeout = timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  }
}

}  // namespace utils::btutil
