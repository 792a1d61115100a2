// The pieces of a registry file line as reg.exe reads them: blanks, quoted
// names and texts, dword and hex data, and the terminator reg.exe adds to string
// data given in hex.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "utils/wintypes.h"

namespace utils::btutil {
struct RegValue;
}

namespace utils::btutil::reg_text {

inline bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
std::wstring_view skipBlanks(std::wstring_view text);
// True when only blanks and perhaps a ; comment are left.
bool endsHere(std::wstring_view rest);
// The text in quotes as UTF-8, for messages.
std::string shown(std::wstring_view text);

// Reads a quoted text starting at *pos (on the opening quote), undoing the
// backslash escapes of a backslash and a quote; *pos ends after the closing quote.
bool parseQuoted(std::wstring_view line, size_t* pos, std::wstring* out, std::string* reason);
// What follows "dword:": blanks, 1 to 8 hex digits, then only a ; comment.
bool parseDword(std::wstring_view text, RegValue* value, std::string* reason);
// What follows "hex(": 1 to 8 hex digits and "):"; *list is the rest.
bool parseHexType(std::wstring_view text, DWORD* type, std::wstring_view* list, std::string* reason);
// One line of hex bytes separated by commas; *continues when it ends with a
// "\" after a comma (blanks and a ; comment may follow the "\").
bool parseHexLine(std::wstring_view line, std::vector<BYTE>* bytes, bool* continues, std::string* reason);
// REG_EXPAND_SZ and REG_MULTI_SZ data given in hex get their final NUL when they
// lack it; ANSI string data (unicode false) become UTF-16 as they are stored.
void finishStringData(DWORD type, bool unicode, std::vector<BYTE>* data);

}  // namespace utils::btutil::reg_text
