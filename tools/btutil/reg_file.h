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

// What the first line of a file makes of it, as reg.exe reads it.
enum class RegFileHeader {
  Unicode,  // "Windows Registry Editor Version 5.00"
  Ansi,     // "REGEDIT4": in a file without a UTF-16 mark, hex(1), hex(2) and hex(7) data are ANSI text
  Win31,    // "REGEDIT": Windows 3.1 lines, which name HKEY_CLASSES_ROOT only
  Ignored,  // any other line that starts with "REGEDIT": reg.exe accepts the file and reads none of it
};

// Everything a file holds. skipped: the lines reg.exe would skip as malformed,
// with why (an import refuses the whole file when there is one); ignored: lines
// reg.exe ignores by design (values after a key deletion).
struct RegFileContent {
  RegFileHeader header = RegFileHeader::Unicode;
  std::vector<RegFileSection> sections;
  std::vector<RegFileError> skipped;
  std::vector<RegFileError> ignored;
};

// The keys as a registry file (CRLF line ends, without the byte order mark).
// Fails, naming the key or value, when a name cannot be written in the format
// (a line break in it).
bool formatRegFile(const std::vector<KeySnapshot>& keys, std::wstring* text, std::string* error);

// Reads a whole registry file line by line as reg.exe does, listing every line
// it would skip. utf16File: the file had a UTF-16 byte order mark. False (with
// error) only when the first line is not a header reg.exe accepts.
bool readRegFile(std::wstring_view text, bool utf16File, RegFileContent* content, RegFileError* error);

// As readRegFile for a UTF-16 file, failing at the first line reg.exe would
// skip; a file whose header makes reg.exe read nothing gives no sections.
bool parseRegFile(std::wstring_view text, std::vector<RegFileSection>* sections, RegFileError* error);

}  // namespace utils::btutil
