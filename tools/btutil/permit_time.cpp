#include "permit_time.h"

#include <time.h>

#include <chrono>
#include <cstdio>

#include "numbers.h"

namespace utils::btutil {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600;

std::optional<int> digits(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return std::nullopt;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<uint64_t> parseOffset(std::string_view text, uint64_t now) {
  if (text.size() < 3) return std::nullopt;
  uint64_t unit = 0;
  switch (text.back()) {
    case 's': unit = 1; break;
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    case 'd': unit = 86400; break;
    default: return std::nullopt;
  }
  const auto count = parseUnsigned(text.substr(1, text.size() - 2), 100ULL * 365 * 86400 / unit);
  if (!count) return std::nullopt;
  return now + *count * unit * kTicksPerSecond;
}

// The zone designator after the time: "Z", "+HH", "+HHMM" or "+HH:MM" (or -),
// as seconds east of UTC; nothing for a malformed one.
std::optional<int> zoneOffset(std::string_view zone) {
  if (zone == "Z" || zone == "z") return 0;
  if (zone.size() < 3 || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
  const auto hours = digits(zone, 1, 2);
  std::optional<int> minutes = 0;
  if (zone.size() == 6 && zone[3] == ':') {
    minutes = digits(zone, 4, 2);
  } else if (zone.size() == 5) {
    minutes = digits(zone, 3, 2);
  } else if (zone.size() != 3) {
    return std::nullopt;
  }
  if (!hours || !minutes || *hours > 23 || *minutes > 59) return std::nullopt;
  const int seconds = *hours * 3600 + *minutes * 60;
  return zone[0] == '-' ? -seconds : seconds;
}

std::optional<uint64_t> fromUnixSeconds(int64_t seconds) {
  if (seconds < -kEpochDifference) return std::nullopt;
  return static_cast<uint64_t>(seconds + kEpochDifference) * kTicksPerSecond;
}

int64_t unixSeconds(uint64_t fileTime) { return static_cast<int64_t>(fileTime / kTicksPerSecond) - kEpochDifference; }

}  // namespace

std::optional<uint64_t> parsePermitTime(std::string_view text, uint64_t now) {
  if (!text.empty() && text[0] == '+') return parseOffset(text, now);
  // YYYY-MM-DDTHH:MM, then :SS, then the zone.
  if (text.size() < 16 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':') {
    return std::nullopt;
  }
  const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  const auto hour = digits(text, 11, 2), minute = digits(text, 14, 2);
  std::optional<int> second = 0;
  std::string_view zone = text.substr(16);
  if (!zone.empty() && zone[0] == ':') {
    second = digits(zone, 1, 2);
    zone.remove_prefix(std::min<size_t>(3, zone.size()));
  }
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1601 || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                         std::chrono::day(unsigned(*day))};
  if (!date.ok()) return std::nullopt;
  if (zone.empty()) {
    // Local time, as the system's time zone has it on that day.
    tm local{};
    local.tm_year = *year - 1900;
    local.tm_mon = *month - 1;
    local.tm_mday = *day;
    local.tm_hour = *hour;
    local.tm_min = *minute;
    local.tm_sec = *second;
    local.tm_isdst = -1;
    const time_t seconds = mktime(&local);
    if (seconds == static_cast<time_t>(-1)) return std::nullopt;
    return fromUnixSeconds(seconds);
  }
  const auto offset = zoneOffset(zone);
  if (!offset) return std::nullopt;
  const int64_t seconds =
      std::chrono::sys_days(date).time_since_epoch().count() * int64_t{86400} + *hour * 3600 + *minute * 60 + *second;
  return fromUnixSeconds(seconds - *offset);
}

std::string localTimeText(uint64_t fileTime) {
  const time_t seconds = static_cast<time_t>(unixSeconds(fileTime));
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return utcTimeText(fileTime);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string utcTimeText(uint64_t fileTime) {
  const std::chrono::sys_seconds moment{std::chrono::seconds(unixSeconds(fileTime))};
  const auto day = std::chrono::floor<std::chrono::days>(moment);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss time{moment - day};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

}  // namespace utils::btutil
