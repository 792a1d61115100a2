// The Win32 clock adapter: its three views of time agree with each other and with
// the C++ clocks.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>

#include "port/win32/win32_clock.h"

namespace {

using utils::win32port::Win32Clock;

// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

int secondsOfDay(int hour, int minute, int second) { return (hour * 60 + minute) * 60 + second; }

TEST(Win32ClockTest, SystemTimeIsFileTimeSince1601) {
  Win32Clock clock;
  const auto before = std::chrono::system_clock::now();
  const uint64_t fileTime = clock.systemTimeAsFileTime();
  const auto after = std::chrono::system_clock::now();

  const auto toFileTime = [](std::chrono::system_clock::time_point point) {
    const auto since1970 = std::chrono::duration_cast<std::chrono::microseconds>(point.time_since_epoch()).count();
    return kUnixEpochAsFileTime + static_cast<uint64_t>(since1970) * 10;
  };
  // Both halves of the FILETIME are used: the value is far above 2^32.
  EXPECT_GT(fileTime, toFileTime(before) - 20'000'000ULL);
  EXPECT_LT(fileTime, toFileTime(after) + 20'000'000ULL);
}

TEST(Win32ClockTest, LocalTimeIsTheSystemTimeInTheLocalZone) {
  Win32Clock clock;
  // Retry when a second boundary falls between the two readings.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const uint64_t fileTime = clock.systemTimeAsFileTime();
    const utils::port::LocalTime local = clock.localTime();

    FILETIME utc{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    SYSTEMTIME utcParts{};
    SYSTEMTIME expected{};
    ASSERT_TRUE(FileTimeToSystemTime(&utc, &utcParts));
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &expected));

    EXPECT_GE(local.month, 1);
    EXPECT_LE(local.month, 12);
    EXPECT_GE(local.millisecond, 0);
    EXPECT_LE(local.millisecond, 999);
    const int drift = secondsOfDay(local.hour, local.minute, local.second) -
                      secondsOfDay(expected.wHour, expected.wMinute, expected.wSecond);
    if (drift != 0) continue;
    EXPECT_EQ(local.year, expected.wYear);
    EXPECT_EQ(local.month, expected.wMonth);
    EXPECT_EQ(local.day, expected.wDay);
    return;
  }
  ADD_FAILURE() << "local time and system time never agreed to the second";
}

TEST(Win32ClockTest, MonotonicTimeAdvancesAcrossASleep) {
  Win32Clock clock;
  uint64_t previous = clock.monotonicMs();
  for (int i = 0; i < 1000; ++i) {
    const uint64_t now = clock.monotonicMs();
    ASSERT_GE(now, previous);
    previous = now;
  }

  const uint64_t start = clock.monotonicMs();
  const auto steadyStart = std::chrono::steady_clock::now();
  clock.sleepMs(60);
  const uint64_t slept = clock.monotonicMs() - start;
  const auto steadySlept =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - steadyStart).count();
  // The tick count moves in steps of up to 16 ms; the sleep lasts at least its time.
  EXPECT_GE(steadySlept, 59);
  EXPECT_GE(slept + 16, 60u);
  EXPECT_LE(slept, static_cast<uint64_t>(steadySlept) + 16);
}

}  // namespace
