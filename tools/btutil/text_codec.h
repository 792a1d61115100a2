// The encodings a registry file comes in: UTF-16LE with a byte order mark as
// regedit writes it, or ANSI (on Linux UTF-8, else Windows-1252) without one.
#pragma once

#include <string>
#include <string_view>

namespace utils::btutil {

// Bytes without a UTF-16 mark as reg.exe's ANSI reading gives them on Linux:
// UTF-8 when they are valid UTF-8, otherwise Windows-1252 (the ANSI code page of
// Western Windows).
std::wstring decodeAnsi(std::string_view bytes);

// A registry file as reg.exe reads one: UTF-16LE behind its byte order mark
// (*utf16 set), otherwise as decodeAnsi reads it. Fails on a UTF-8 or UTF-16BE
// mark, on lone surrogates and on NUL bytes outside UTF-16; error then says what
// is wrong and, where it applies, at which line (1-based).
bool decodeRegFileText(std::string_view bytes, std::wstring* text, bool* utf16, std::string* error);

// The text as UTF-16LE bytes behind the byte order mark FF FE.
std::string encodeUtf16LeWithBom(std::wstring_view text);

// True when the text is well-formed UTF-8.
bool isValidUtf8(std::string_view text);

}  // namespace utils::btutil
