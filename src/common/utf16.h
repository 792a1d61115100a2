// Conversions between the platform's wide strings (UTF-16 on Windows, UTF-32
// elsewhere), UTF-16 code units and UTF-8. Invalid sequences become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace utils {

std::u16string wideToUtf16(std::wstring_view text);
std::wstring utf16ToWide(std::u16string_view text);
std::string wideToUtf8(std::wstring_view text);
std::wstring utf8ToWide(std::string_view text);

// UTF-16 code units as little-endian bytes (the REG_SZ layout), and back. An odd
// trailing byte is dropped.
std::string utf16ToLeBytes(std::u16string_view text);
std::u16string leBytesToUtf16(const unsigned char* bytes, size_t count);

}  // namespace utils
