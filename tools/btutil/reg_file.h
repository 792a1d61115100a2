// The registry file text that regedit writes and reads: a header line, [KEY]
// sections and "name"=data lines. Formatting and parsing work on the decoded
// text; text_codec.h turns it into file bytes and back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "key_path.h"
#include "reg_value.h"
#include "registry_reader.h"

namespace utils::btutil {

inline constexpr std::wstring_view kRegFileHeader = L"Windows Registry Editor Version 5.00";

// One "name"=data line: a value to set, or with remove a value to delete ("name"=-).
struct RegFileEntry {
  size_t line = 0;
  bool remove = false;
  RegValue value;
};

// One [KEY] section with its lines, or a [-KEY] deletion of a whole tree.
struct RegFileSection {
  size_t line = 0;
  KeyPath key;
  bool remove = false;
  std::vector<RegFileEntry> entries;
};

struct RegFileError {
  size_t line = 0;  // 1-based; 0 when the fault is not on one line
  std::string message;
};

// The keys as a registry file (CRLF line ends, without the byte order mark).
// Fails, naming the key or value, when a name cannot be written in the format
// (a line break in it).
bool formatRegFile(const std::vector<KeySnapshot>& keys, std::wstring* text, std::string* error);

// Parses a whole registry file. Nothing is applied here; a malformed line gives
// its line number and what is wrong.
bool parseRegFile(std::wstring_view text, std::vector<RegFileSection>* sections, RegFileError* error);

}  // namespace utils::btutil
