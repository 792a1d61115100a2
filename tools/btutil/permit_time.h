// Moments for "btutil permit": typed for --until and shown by "permit show", as
// FILETIMEs (100-ns intervals since 1601-01-01 UTC).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace utils::btutil {

// As ISO 8601 reads a moment: "2026-03-01T12:00:00" (seconds may be left out, a
// blank may stand for the T) is local time; followed by "Z" it is UTC, by
// "+01:00", "-0500" or "+01" that far ahead of or behind UTC. Or "+N" followed
// by s, m, h or d: N seconds, minutes, hours or days after now.
std::optional<uint64_t> parsePermitTime(std::string_view text, uint64_t now);

// "2026-03-01 13:00:00" in local time, and "2026-03-01T12:00:00Z".
std::string localTimeText(uint64_t fileTime);
std::string utcTimeText(uint64_t fileTime);

}  // namespace utils::btutil
