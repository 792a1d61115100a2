// The encodings a registry file comes in: UTF-16LE with a byte order mark as
// regedit writes it, UTF-8 with or without one (and UTF-16BE with a mark).
#pragma once

#include <string>
#include <string_view>

namespace utils::btutil {

// Decodes a whole file. On failure error says what is wrong and, where it
// applies, at which line (1-based).
bool decodeTextFile(std::string_view bytes, std::wstring* text, std::string* error);

// The text as UTF-16LE bytes behind the byte order mark FF FE.
std::string encodeUtf16LeWithBom(std::wstring_view text);

// True when the text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

}  // namespace utils::btutil
