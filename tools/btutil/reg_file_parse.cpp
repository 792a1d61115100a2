// Reading registry files line by line as reg.exe reads them: which headers it
// accepts, which lines it takes as comments, how it joins hex data over several
// lines, and which lines it skips. Where reg.exe skips a line and imports the
// rest, the line is listed (RegFileContent::skipped) so that an import can refuse
// the whole file instead.
#include "common/utf16.h"
#include "numbers.h"
#include "reg_file.h"
#include "reg_file_text.h"

namespace utils::btutil {
namespace {

using reg_text::endsHere;
using reg_text::isBlank;
using reg_text::shown;
using reg_text::skipBlanks;

class Parser {
 public:
  Parser(std::wstring_view text, bool utf16File) : utf16File_(utf16File) {
    // reg.exe ends a line at CR, LF or CR LF.
    for (size_t start = 0;;) {
      const size_t end = text.find_first_of(L"\r\n", start);
      if (end == std::wstring_view::npos) {
        lines_.push_back(text.substr(start));
        break;
      }
      lines_.push_back(text.substr(start, end - start));
      start = end + ((text[end] == L'\r' && end + 1 < text.size() && text[end + 1] == L'\n') ? 2 : 1);
    }
  }

  bool run(RegFileContent* content, RegFileError* error) {
    content_ = content;
    *content = {};
    if (!readHeader(error)) return false;
    if (content->header == RegFileHeader::Ignored) return true;
    // A NUL would cut a key path or a value name short where the registry reads
    // it, so that "[-HKEY_CURRENT_USER<NUL>x]" would name the whole root.
    for (size_t i = 1; i < lines_.size(); ++i) {
      if (lines_[i].find(L'\0') != std::wstring_view::npos) {
        skip(i + 1, "The line holds a NUL character; key paths, value names and texts cannot.");
      }
    }
    for (index_ = 1; index_ < lines_.size(); ++index_) {
      if (lines_[index_].find(L'\0') != std::wstring_view::npos) continue;
      if (content->header == RegFileHeader::Win31) {
        win31Line(lines_[index_]);
        continue;
      }
      const std::wstring_view line = skipBlanks(lines_[index_]);
      if (line.empty() || line.front() == L';' || line.front() == L'#') continue;  // comments
      if (line.front() == L'[') {
        keyLine(line);
      } else if (line.front() == L'@' || line.front() == L'"') {
        valueLine(line);
      } else {
        skip(lineNumber(), "Not a [KEY] line, a \"name\"=data line or a comment: " + shown(line) + ".");
      }
    }
    return true;
  }

 private:
  enum class Target { None, Key, Deleted, Unusable };

  size_t lineNumber() const { return index_ + 1; }
  void skip(size_t line, std::string reason) { content_->skipped.push_back({line, std::move(reason)}); }

  bool readHeader(RegFileError* error) {
    // Blanks before the header are allowed, a blank line is not.
    const std::wstring_view header = skipBlanks(lines_[0]);
    if (header == kRegFileHeader) {
      content_->header = RegFileHeader::Unicode;
    } else if (header == L"REGEDIT4") {
      content_->header = RegFileHeader::Ansi;
    } else if (header == L"REGEDIT") {
      content_->header = RegFileHeader::Win31;
    } else if (header.substr(0, 7) == L"REGEDIT") {
      content_->header = RegFileHeader::Ignored;
    } else {
      error->line = 1;
      error->message = "The file must start with the line \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\".";
      return false;
    }
    return true;
  }

  // Windows 3.1 files set default values of HKEY_CLASSES_ROOT keys, which this
  // registry does not hold; reg.exe ignores every line that does not start with
  // that root name, spelt exactly so.
  void win31Line(std::wstring_view line) {
    if (line.starts_with(L"HKEY_CLASSES_ROOT")) {
      skip(lineNumber(),
           "Windows 3.1 registry lines (REGEDIT) set HKEY_CLASSES_ROOT, which this registry does not hold.");
    }
  }

  void keyLine(std::wstring_view line) {
    target_ = Target::Unusable;
    targetLine_ = lineNumber();
    // The name runs to the last "]"; reg.exe ignores what follows it.
    const size_t close = line.rfind(L']');
    if (close == std::wstring_view::npos) return skip(lineNumber(), "The key line has no closing \"]\".");
    std::wstring_view inner = line.substr(1, close - 1);
    RegFileSection section;
    section.line = lineNumber();
    if (!inner.empty() && inner.front() == L'-') {
      section.remove = true;
      inner.remove_prefix(1);
    }
    if (inner.empty() || isBlank(inner.front())) {
      return skip(lineNumber(), "A blank after \"[\" or \"[-\": the key name must follow at once.");
    }
    // reg.exe opens "Key\" and "Key\\" as "Key".
    while (!inner.empty() && inner.back() == L'\\') inner.remove_suffix(1);
    std::string keyError;
    if (!parseKeyPath(inner, &section.key, &keyError)) return skip(lineNumber(), keyError);
    if (section.remove && section.key.subKey.empty()) {
      return skip(lineNumber(), "A root key cannot be deleted: " + shown(inner) + ".");
    }
    if (!withinLimits(section.key.subKey)) return;
    target_ = section.remove ? Target::Deleted : Target::Key;
    content_->sections.push_back(std::move(section));
  }

  // The registry's limits on key names and depth.
  bool withinLimits(std::wstring_view subKey) {
    size_t depth = 0;
    for (size_t start = 0; !subKey.empty() && start <= subKey.size();) {
      size_t end = subKey.find(L'\\', start);
      if (end == std::wstring_view::npos) end = subKey.size();
      const std::wstring_view name = subKey.substr(start, end - start);
      if (port::utf16Length(name) > port::kMaxKeyNameChars) {
        skip(lineNumber(), "The key name " + shown(name.substr(0, 40)) + "... is longer than " +
                               std::to_string(port::kMaxKeyNameChars) + " characters.");
        return false;
      }
      ++depth;
      start = end + 1;
    }
    if (depth > port::kMaxKeyDepth) {
      skip(lineNumber(), "The key path is " + std::to_string(depth) + " levels deep; the registry allows " +
                             std::to_string(port::kMaxKeyDepth) + ".");
      return false;
    }
    return true;
  }

  void valueLine(std::wstring_view line) {
    RegFileEntry entry;
    entry.line = lineNumber();
    std::string reason;
    size_t pos = 1;  // past "@", the default value
    if (line.front() == L'"') {
      pos = 0;
      if (!reg_text::parseQuoted(line, &pos, &entry.value.name, &reason)) return skip(entry.line, reason);
    }
    std::wstring_view rest = skipBlanks(line.substr(pos));
    if (rest.empty() || rest.front() != L'=') return skip(entry.line, "The value name is not followed by \"=\".");
    if (!parseData(skipBlanks(rest.substr(1)), &entry, &reason)) {
      const std::string start =
          lineNumber() == entry.line ? "" : " (the value starts on line " + std::to_string(entry.line) + ")";
      return skip(lineNumber(), reason + start);
    }
    switch (target_) {
      case Target::None: return skip(entry.line, "A value line stands before the first [KEY] line.");
      case Target::Unusable:
        return skip(entry.line, "The value belongs to the key on line " + std::to_string(targetLine_) +
                                    ", which reg.exe cannot open.");
      case Target::Deleted:
        content_->ignored.push_back({entry.line, "A value after the key deletion on line " +
                                                     std::to_string(targetLine_) +
                                                     " is ignored, as reg.exe ignores it."});
        return;
      case Target::Key: break;
    }
    if (port::utf16Length(entry.value.name) > port::kMaxValueNameChars) {
      return skip(entry.line,
                  "The value name is longer than " + std::to_string(port::kMaxValueNameChars) + " characters.");
    }
    content_->sections.back().entries.push_back(std::move(entry));
  }

  bool parseData(std::wstring_view data, RegFileEntry* entry, std::string* reason) {
    RegValue& value = entry->value;
    if (!data.empty() && data.front() == L'-') {
      entry->remove = true;
      if (endsHere(data.substr(1))) return true;
      *reason = "Only a ; comment may follow \"-\".";
      return false;
    }
    if (!data.empty() && data.front() == L'"') {
      size_t pos = 0;
      std::wstring text;
      if (!reg_text::parseQuoted(data, &pos, &text, reason)) return false;
      if (!endsHere(data.substr(pos))) {
        *reason = "Only a ; comment may follow the closing quote.";
        return false;
      }
      value.type = REG_SZ;
      value.data = stringData(text);
      return true;
    }
    if (data.substr(0, 6) == L"dword:") return reg_text::parseDword(data.substr(6), &value, reason);
    std::wstring_view list;
    if (data.substr(0, 4) == L"hex:") {
      value.type = REG_BINARY;
      list = data.substr(4);
    } else if (data.substr(0, 4) == L"hex(") {
      if (!reg_text::parseHexType(data.substr(4), &value.type, &list, reason)) return false;
    } else {
      *reason = "Unrecognised value data " + shown(data) + ": expected \"text\", dword:, hex:, hex(N): or -.";
      return false;
    }
    if (!parseHexData(list, &value.data, reason)) return false;
    reg_text::finishStringData(value.type, utf16File_ || content_->header != RegFileHeader::Ansi, &value.data);
    return true;
  }

  // The hex bytes of one value: a "\" after a comma continues the list on the
  // next line that is neither blank nor a ; comment; that line must start with a
  // hex digit. At the end of the file the list ends.
  bool parseHexData(std::wstring_view first, std::vector<BYTE>* bytes, std::string* reason) {
    bytes->clear();
    bool continues = false;
    if (!reg_text::parseHexLine(first, bytes, &continues, reason)) return false;
    while (continues) {
      std::wstring_view line;
      do {
        if (index_ + 1 >= lines_.size()) return true;
        ++index_;
        line = skipBlanks(lines_[index_]);
      } while (line.empty() || line.front() == L';');
      if (hexDigitValue(line.front()) < 0) {
        *reason = "The line continues hex data but does not start with a hex digit: " + shown(line.substr(0, 40)) + ".";
        return false;
      }
      if (!reg_text::parseHexLine(line, bytes, &continues, reason)) return false;
    }
    return true;
  }

  const bool utf16File_;
  std::vector<std::wstring_view> lines_;
  size_t index_ = 0;
  RegFileContent* content_ = nullptr;
  Target target_ = Target::None;
  size_t targetLine_ = 0;
};

}  // namespace

bool readRegFile(std::wstring_view text, bool utf16File, RegFileContent* content, RegFileError* error) {
  return Parser(text, utf16File).run(content, error);
}

bool parseRegFile(std::wstring_view text, std::vector<RegFileSection>* sections, RegFileError* error) {
  RegFileContent content;
  if (!readRegFile(text, true, &content, error)) return false;
  if (!content.skipped.empty()) {
    *error = content.skipped.front();
    return false;
  }
  *sections = std::move(content.sections);
  return true;
}

}  // namespace utils::btutil
