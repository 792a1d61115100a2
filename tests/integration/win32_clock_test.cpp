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
  // Read between two system times, the local time taken back to UTC lies between
  // them (to its millisecond), whatever second boundary fell in between.
  const uint64_t before = clock.systemTimeAsFileTime();
  const utils::port::LocalTime local = clock.localTime();
  const uint64_t after = clock.systemTimeAsFileTime();
  const auto word = [](int field) { return static_cast<WORD>(field); };
  const SYSTEMTIME localParts{word(local.year),   word(local.month),      0,
                              word(local.day),    word(local.hour),       word(local.minute),
                              word(local.second), word(local.millisecond)};
  SYSTEMTIME utcParts{};
  ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &localParts, &utcParts));
  FILETIME utc{};
  ASSERT_TRUE(SystemTimeToFileTime(&utcParts, &utc)) << "a field is out of its range";
  const uint64_t read = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
  EXPECT_GE(read + 10'000, before);
  EXPECT_LE(read, after);
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
