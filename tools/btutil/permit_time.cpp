#include "permit_time.h"

#include <chrono>

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

}  // namespace

std::optional<uint64_t> parsePermitTime(std::string_view text, uint64_t now) {
  if (!text.empty() && text[0] == '+') return parseOffset(text, now);
  if (!text.empty() && text.back() == 'Z') text.remove_suffix(1);
  // YYYY-MM-DDTHH:MM:SS
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
      text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  const auto hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  if (*year < 1601 || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(unsigned(*month)),
                                         std::chrono::day(unsigned(*day))};
  if (!date.ok()) return std::nullopt;
  const int64_t unixSeconds =
      std::chrono::sys_days(date).time_since_epoch().count() * int64_t{86400} + *hour * 3600 + *minute * 60 + *second;
  return static_cast<uint64_t>(unixSeconds + kEpochDifference) * kTicksPerSecond;
}

}  // namespace utils::btutil
