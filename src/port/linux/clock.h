// Clocks on Linux: local time from the system time zone, CLOCK_REALTIME for the
// system time and CLOCK_MONOTONIC for waits.
#pragma once

#include "port/clock_port.h"

namespace utils::linuxport {

class LinuxClock : public port::ClockPort {
 public:
  port::LocalTime localTime() override;
  uint64_t systemTimeAsFileTime() override;
  uint64_t monotonicMs() override;
  void sleepMs(DWORD ms) override;
};

}  // namespace utils::linuxport
