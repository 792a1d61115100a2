#include "port/win32/win32_clock.h"

#include <windows.h>

namespace utils::win32port {

port::LocalTime Win32Clock::localTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return port::LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

uint64_t Win32Clock::systemTimeAsFileTime() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint64_t Win32Clock::monotonicMs() { return GetTickCount64(); }

void Win32Clock::sleepMs(DWORD ms) { Sleep(ms); }

}  // namespace utils::win32port
