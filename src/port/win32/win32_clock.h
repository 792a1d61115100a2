// The clock port on the Win32 time functions.
#pragma once

#include "port/clock_port.h"

namespace utils::win32port {

class Win32Clock : public port::ClockPort {
 public:
  port::LocalTime localTime() override;      // GetLocalTime
  uint64_t systemTimeAsFileTime() override;  // GetSystemTimeAsFileTime
  uint64_t monotonicMs() override;           // GetTickCount64
  void sleepMs(DWORD ms) override;           // Sleep
};

}  // namespace utils::win32port
