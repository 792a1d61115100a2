#include "common/utf16.h"
#include "numbers.h"
#include "reg_file.h"

namespace utils::btutil {
namespace {

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

std::wstring_view trimmed(std::wstring_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool startsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && upperAscii(text.substr(0, prefix.size())) == upperAscii(prefix);
}

std::string shown(std::wstring_view text) { return "\"" + wideToUtf8(text) + "\""; }

// Parses one file, line by line, into sections; the first fault ends it.
class Parser {
 public:
  explicit Parser(std::wstring_view text) {
    for (size_t start = 0; start <= text.size();) {
      size_t end = text.find(L'\n', start);
      if (end == std::wstring_view::npos) end = text.size();
      std::wstring_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = end + 1;
    }
  }

  bool run(std::vector<RegFileSection>* sections, RegFileError* error) {
    error_ = error;
    if (trimmed(lines_[0]) != kRegFileHeader) {
      if (startsWithIgnoringCase(trimmed(lines_[0]), L"REGEDIT4")) {
        return fail(1,
                    "REGEDIT4 files are not supported; the file must start with \"Windows Registry Editor "
                    "Version 5.00\".");
      }
      return fail(1, "The file must start with the line \"Windows Registry Editor Version 5.00\".");
    }
    // A NUL would cut a key path or a value name short where the registry reads
    // it, so that "[-HKEY_CURRENT_USER<NUL>x]" would name the whole root.
    for (size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].find(L'\0') != std::wstring_view::npos) {
        return fail(i + 1, "The line holds a NUL character; key paths, value names and texts cannot.");
      }
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      const std::wstring_view line = trimmed(lines_[index_]);
      if (line.empty() || line.front() == L';') continue;
      const bool ok = line.front() == L'[' ? parseSection(line) : parseValueLine(line);
      if (!ok) return false;
    }
    *sections = std::move(sections_);
    return true;
  }

 private:
  size_t lineNumber() const { return index_ + 1; }

  bool fail(size_t line, std::string message) {
    error_->line = line;
    error_->message = std::move(message);
    return false;
  }

  bool parseSection(std::wstring_view line) {
    if (line.back() != L']') return fail(lineNumber(), "The key line has no closing \"]\".");
    std::wstring_view inner = line.substr(1, line.size() - 2);
    RegFileSection section;
    section.line = lineNumber();
    if (!inner.empty() && inner.front() == L'-') {
      section.remove = true;
      inner.remove_prefix(1);
    }
    std::string keyError;
    if (!parseKeyPath(inner, &section.key, &keyError)) return fail(lineNumber(), keyError);
    if (section.remove && section.key.subKey.empty()) {
      return fail(lineNumber(), "A root key cannot be deleted: " + shown(inner) + ".");
    }
    if (!withinLimits(section.key.subKey)) return false;
    sections_.push_back(std::move(section));
    return true;
  }

  // The registry's limits on key names and depth, checked before anything is
  // written.
  bool withinLimits(std::wstring_view subKey) {
    size_t depth = 0;
    for (size_t start = 0; !subKey.empty() && start <= subKey.size();) {
      size_t end = subKey.find(L'\\', start);
      if (end == std::wstring_view::npos) end = subKey.size();
      const std::wstring_view name = subKey.substr(start, end - start);
      if (port::utf16Length(name) > port::kMaxKeyNameChars) {
        return fail(lineNumber(), "The key name " + shown(name.substr(0, 40)) + "... is longer than " +
                                      std::to_string(port::kMaxKeyNameChars) + " characters.");
      }
      ++depth;
      start = end + 1;
    }
    if (depth > port::kMaxKeyDepth) {
      return fail(lineNumber(), "The key path is " + std::to_string(depth) + " levels deep; the registry allows " +
                                    std::to_string(port::kMaxKeyDepth) + ".");
    }
    return true;
  }

  // Reads a quoted text starting at *pos (on the opening quote), undoing the
  // \\ and \" escapes; *pos ends after the closing quote.
  bool parseQuoted(std::wstring_view line, size_t* pos, std::wstring* out) {
    out->clear();
    for (size_t i = *pos + 1; i < line.size(); ++i) {
      const wchar_t c = line[i];
      if (c == L'"') {
        *pos = i + 1;
        return true;
      }
      if (c == L'\\') {
        if (i + 1 >= line.size() || (line[i + 1] != L'\\' && line[i + 1] != L'"')) {
          return fail(lineNumber(),
                      "Unknown escape in a quoted text: a backslash must be written \\\\ and a quote "
                      "\\\".");
        }
        ++i;
      }
      out->push_back(line[i]);
    }
    return fail(lineNumber(), "A quoted text has no closing quote.");
  }

  bool parseValueLine(std::wstring_view line) {
    if (line.front() != L'@' && line.front() != L'"') {
      return fail(lineNumber(), "Unrecognised line " + shown(line) + ": expected [KEY], \"name\"=data or @=data.");
    }
    if (sections_.empty()) return fail(lineNumber(), "A value line stands before the first [KEY] line.");
    RegFileSection& section = sections_.back();
    if (section.remove) {
      return fail(lineNumber(), "A value line follows the key deletion on line " + std::to_string(section.line) +
                                    "; start a [KEY] section first.");
    }
    RegFileEntry entry;
    entry.line = lineNumber();
    size_t pos = 0;
    if (line.front() == L'@') {
      pos = 1;  // the default value
    } else if (!parseQuoted(line, &pos, &entry.value.name)) {
      return false;
    } else if (port::utf16Length(entry.value.name) > port::kMaxValueNameChars) {
      return fail(lineNumber(),
                  "The value name is longer than " + std::to_string(port::kMaxValueNameChars) + " characters.");
    }
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != L'=') return fail(lineNumber(), "The value name is not followed by \"=\".");
    const std::wstring_view data = trimmed(line.substr(pos + 1));
    if (!parseData(data, &entry)) return false;
    section.entries.push_back(std::move(entry));
    return true;
  }

  bool parseData(std::wstring_view data, RegFileEntry* entry) {
    RegValue& value = entry->value;
    if (data == L"-") {
      entry->remove = true;
      return true;
    }
    if (!data.empty() && data.front() == L'"') {
      size_t pos = 0;
      std::wstring text;
      if (!parseQuoted(data, &pos, &text)) return false;
      if (pos != data.size()) return fail(lineNumber(), "Unexpected text after the closing quote.");
      value.type = REG_SZ;
      value.data = stringData(text);
      return true;
    }
    if (startsWithIgnoringCase(data, L"dword:")) {
      const std::wstring_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) {
        return fail(lineNumber(), "A dword needs 1 to 8 hex digits, as in dword:0000000c.");
      }
      uint64_t number = 0;
      for (wchar_t c : digits) {
        const int digit = hexDigitValue(c);
        if (digit < 0) return fail(lineNumber(), "A dword needs 1 to 8 hex digits, as in dword:0000000c.");
        number = number * 16 + static_cast<uint64_t>(digit);
      }
      value.type = REG_DWORD;
      value.data = littleEndianBytes(number, 4);
      return true;
    }
    if (startsWithIgnoringCase(data, L"hex:")) {
      value.type = REG_BINARY;
      return parseHexList(data.substr(4), &value.data);
    }
    if (startsWithIgnoringCase(data, L"hex(")) {
      const size_t close = data.find(L"):");
      if (close == std::wstring_view::npos || close == 4 || close > 12) {
        return fail(lineNumber(), "A typed hex value is written hex(N): with N the type in hex, as in hex(b):.");
      }
      uint64_t type = 0;
      for (wchar_t c : data.substr(4, close - 4)) {
        const int digit = hexDigitValue(c);
        if (digit < 0) return fail(lineNumber(), "The type in hex(N): must be hex digits.");
        type = type * 16 + static_cast<uint64_t>(digit);
      }
      value.type = static_cast<DWORD>(type);
      return parseHexList(data.substr(close + 2), &value.data);
    }
    return fail(lineNumber(), "Unrecognised value data " + shown(data) +
                                  ": expected \"text\", dword:, hex:, hex(N): or - to delete.");
  }

  // Comma-separated hex bytes; a line ending in "\" continues on the next one.
  // Each byte's line is kept so a fault names the right line.
  bool parseHexList(std::wstring_view first, std::vector<BYTE>* bytes) {
    struct Piece {
      size_t offset;
      size_t line;
    };
    std::wstring joined;
    std::vector<Piece> pieces;
    std::wstring_view piece = trimmed(first);
    for (;;) {
      const bool continues = !piece.empty() && piece.back() == L'\\';
      if (continues) piece = trimmed(piece.substr(0, piece.size() - 1));
      pieces.push_back({joined.size(), lineNumber()});
      joined += piece;
      if (!continues) break;
      if (index_ + 1 >= lines_.size()) return fail(lineNumber(), "The file ends after a continuation \"\\\".");
      ++index_;
      piece = trimmed(lines_[index_]);
    }
    auto lineOf = [&pieces](size_t offset) {
      size_t line = pieces.front().line;
      for (const auto& p : pieces) {
        if (p.offset <= offset) line = p.line;
      }
      return line;
    };
    bytes->clear();
    for (size_t start = 0; start < joined.size();) {
      size_t end = joined.find(L',', start);
      if (end == std::wstring::npos) end = joined.size();
      const std::wstring_view token = trimmed(std::wstring_view(joined).substr(start, end - start));
      // A comma closing the list leaves no token behind: the loop ends first.
      const int high = token.size() == 2 ? hexDigitValue(token[0]) : 0;
      const int low = token.empty() || token.size() > 2 ? -1 : hexDigitValue(token.back());
      if (high < 0 || low < 0) {
        return fail(lineOf(start), "Bad hex byte " + shown(token) + ": bytes are two hex digits separated by commas.");
      }
      bytes->push_back(static_cast<BYTE>(high * 16 + low));
      start = end + 1;
    }
    return true;
  }

  std::vector<std::wstring_view> lines_;
  size_t index_ = 0;
  std::vector<RegFileSection> sections_;
  RegFileError* error_ = nullptr;
};

}  // namespace

bool parseRegFile(std::wstring_view text, std::vector<RegFileSection>* sections, RegFileError* error) {
  return Parser(text).run(sections, error);
}

}  // namespace utils::btutil
