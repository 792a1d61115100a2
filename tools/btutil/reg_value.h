// Registry values: type names, data built from reg add's /d text, and the data
// shown by reg query.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "utils/wintypes.h"

namespace utils::btutil {

struct RegValue {
  std::wstring name;  // empty: the key's default value
  DWORD type = REG_NONE;
  std::vector<BYTE> data;  // the Windows byte layout
};

// "REG_DWORD" and the other type names (any letter case) that reg add accepts.
std::optional<DWORD> parseTypeName(std::string_view name);

// The type's name, or "0x..." for a type without one.
std::string typeName(DWORD type);

// The name reg query shows: typeName's, and REG_DWORD_BIG_ENDIAN by its name.
std::string queryTypeName(DWORD type);

// Builds the data of a value of the given type from /d text. REG_MULTI_SZ splits
// at separator ("\0" when empty). On failure error says what is wrong.
bool buildValueData(DWORD type, std::string_view text, std::string_view separator, std::vector<BYTE>* data,
                    std::string* error);

// A REG_SZ's bytes: UTF-16LE with the terminator.
std::vector<BYTE> stringData(std::wstring_view text);

// The text of string data up to the first NUL (a missing terminator or an odd
// trailing byte is tolerated).
std::wstring stringFromData(const std::vector<BYTE>& data);

// The strings of REG_MULTI_SZ data, up to the empty string that closes the list.
std::vector<std::wstring> multiStringsFromData(const std::vector<BYTE>& data);

// The data as reg query shows it: numbers as 0x..., strings as text, multi-strings
// joined by "\0", everything else as hex digits.
std::string displayData(const RegValue& value);

// "(Default)" for the default value, else the name.
std::string displayName(const std::wstring& name);

}  // namespace utils::btutil
