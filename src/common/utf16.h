// Conversions between the platform's wide strings (UTF-16 on Windows, UTF-32
// elsewhere), UTF-16 code units and UTF-8. Invalid sequences become U+FFFD.
#pragma once

#include <cstddef>
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

// Character-at-a-time forms that never allocate.

// One decoded character and the number of elements it took (at least 1).
struct DecodedCharacter {
  char32_t codePoint;
  size_t length;
};

// The character at the start of text[0..length) (length > 0): an invalid or cut
// sequence gives U+FFFD and takes one element.
DecodedCharacter decodeUtf8(const char* text, size_t length);
DecodedCharacter decodeWide(const wchar_t* text, size_t length);

// Writes c as UTF-8 (up to 4 bytes) or as wide units (1, or 2 where wide is
// UTF-16); returns the elements written.
size_t encodeUtf8(char32_t c, char* out);
size_t encodeWide(char32_t c, wchar_t* out);

// Converts text[0..length) to UTF-8 into destination (capacity > 0 bytes),
// stopping before a character that would not fit with the terminator. Always
// terminates; returns the bytes written before the terminator.
size_t wideToUtf8Bounded(const wchar_t* text, size_t length, char* destination, size_t capacity);

// The length of text[0..length) without a UTF-8 character that a cut at
// length left incomplete.
size_t withoutPartialUtf8(const char* text, size_t length);

// The first units * 2 bytes of buffer hold UTF-16LE code units (a registry
// string as stored); turns them in place into the platform's wide text. Where
// wide is UTF-32 each unit is widened and surrogate pairs are joined, and the
// elements freed at the end by joined pairs are zeroed; where wide is UTF-16 the
// units stay as they were read. Returns the wide characters of the text.
size_t widenUtf16InPlace(wchar_t* buffer, size_t units);

}  // namespace utils
