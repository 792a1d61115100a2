// Time as the library logic needs it.
#pragma once

#include <cstdint>

#include "utils/wintypes.h"

namespace utils::port {

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class ClockPort {
 public:
  virtual ~ClockPort() = default;

  // The current local time of day.
  virtual LocalTime localTime() = 0;

  // The current time in 100-ns intervals since 1601-01-01 UTC (FILETIME).
  virtual uint64_t systemTimeAsFileTime() = 0;

  // Milliseconds from an arbitrary fixed start; never goes backward.
  virtual uint64_t monotonicMs() = 0;

  // Blocks the calling thread for about ms milliseconds.
  virtual void sleepMs(DWORD ms) = 0;
};

}  // namespace utils::port
