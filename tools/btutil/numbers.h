// Numbers and hex byte strings as administrators type them on the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "utils/wintypes.h"

namespace utils::btutil {

// A decimal number or a hexadecimal one with a 0x prefix, without sign or
// spaces, no larger than max. Nothing for anything else.
std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t max);

// The value of one hexadecimal digit, or -1.
int hexDigitValue(wchar_t c);

// Pairs of hexadecimal digits without separators ("0a0b0c"); the empty text is
// no bytes. Nothing for an odd digit count or a non-digit.
std::optional<std::vector<BYTE>> parseHexBytes(std::string_view text);

// Bytes as upper-case hexadecimal digits without separators ("0A0B0C").
std::string hexBytes(const std::vector<BYTE>& bytes);

// Little-endian numbers in value data.
std::vector<BYTE> littleEndianBytes(uint64_t value, size_t width);
uint64_t littleEndianValue(const std::vector<BYTE>& bytes);

}  // namespace utils::btutil
