// Moments for "btutil permit grant --until": an ISO 8601 UTC time or an offset
// from now, as a FILETIME (100-ns intervals since 1601-01-01 UTC).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace utils::btutil {

// "2026-03-01T12:00:00Z" (the Z may be left out; the time is UTC either way), or
// "+N" followed by s, m, h or d for N seconds, minutes, hours or days after now.
std::optional<uint64_t> parsePermitTime(std::string_view text, uint64_t now);

}  // namespace utils::btutil
