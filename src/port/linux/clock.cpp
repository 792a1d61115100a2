#include "port/linux/clock.h"

#include <time.h>

#include <cerrno>

namespace utils::linuxport {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

port::LocalTime LinuxClock::localTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm broken{};
  localtime_r(&now.tv_sec, &broken);
  return port::LocalTime{broken.tm_year + 1900,
                         broken.tm_mon + 1,
                         broken.tm_mday,
                         broken.tm_hour,
                         broken.tm_min,
                         broken.tm_sec,
                         static_cast<int>(now.tv_nsec / 1000000)};
}

uint64_t LinuxClock::systemTimeAsFileTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return kUnixEpochAsFileTime + static_cast<uint64_t>(now.tv_sec) * 10000000ULL +
         static_cast<uint64_t>(now.tv_nsec) / 100;
}

uint64_t LinuxClock::monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000ULL + static_cast<uint64_t>(now.tv_nsec) / 1000000ULL;
}

void LinuxClock::sleepMs(DWORD ms) {
  timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&request, &request) != 0 && errno == EINTR) {
  }
}

}  // namespace utils::linuxport
