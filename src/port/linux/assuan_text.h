// The text rules of the Assuan protocol that pinentry speaks: lines end with LF,
// and "%", CR and LF inside an argument travel as %XX escapes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace utils::linuxport {

// text as one Assuan argument: "%", CR, LF and the other control characters as
// %XX, and leading blanks too (a server skips blanks before an argument).
std::string assuanEscape(std::string_view text);

// Decodes the %XX escapes of data into out (capacity bytes). Returns the decoded
// length, or nothing for a malformed escape or when out is too small. out may be
// data itself (decoding only shrinks).
std::optional<size_t> assuanUnescape(const char* data, size_t size, char* out, size_t capacity);

// Decodes UTF-8 into wide characters, at most capacity - 1 of them, and
// terminates out. Returns the number of characters, or nothing for invalid UTF-8
// (overlong forms, surrogates, values past U+10FFFF, a NUL) or too many
// characters. Works on caller-owned buffers only, so secrets are never copied to
// the heap.
std::optional<size_t> utf8ToWideBuffer(const char* data, size_t size, wchar_t* out, size_t capacity);

}  // namespace utils::linuxport
