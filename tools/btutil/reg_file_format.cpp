#include <cstdio>

#include "common/utf16.h"
#include "numbers.h"
#include "reg_file.h"

namespace utils::btutil {
namespace {

// regedit breaks hex data after the comma that brings a line to this length.
constexpr size_t kHexLineLimit = 77;
constexpr std::wstring_view kLineEnd = L"\r\n";

bool hasLineBreak(std::wstring_view text) { return text.find_first_of(L"\r\n") != std::wstring_view::npos; }

std::wstring quoted(std::wstring_view text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') out.push_back(L'\\');
    out.push_back(c);
  }
  out.push_back(L'"');
  return out;
}

// A REG_SZ whose bytes the quoted form gives back exactly: terminated once, no
// NUL or line break inside. Anything else is written as hex(1) and loses nothing.
bool isPlainString(const RegValue& value) {
  if (value.type != REG_SZ || value.data.size() < 2) return false;
  const std::wstring text = stringFromData(value.data);
  return !hasLineBreak(text) && stringData(text) == value.data;
}

// Appends "hex:" or "hex(N):" and the bytes, wrapped with "\" as regedit wraps them.
void appendHex(std::wstring* line, DWORD type, const std::vector<BYTE>& data) {
  if (type == REG_BINARY) {
    *line += L"hex:";
  } else {
    wchar_t prefix[24];
    std::swprintf(prefix, 24, L"hex(%x):", static_cast<unsigned>(type));
    *line += prefix;
  }
  size_t lineLength = line->size();
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  for (size_t i = 0; i < data.size(); ++i) {
    line->push_back(kDigits[data[i] >> 4]);
    line->push_back(kDigits[data[i] & 0x0F]);
    if (i + 1 == data.size()) break;
    line->push_back(L',');
    lineLength += 3;
    if (lineLength >= kHexLineLimit) {
      *line += L"\\";
      *line += kLineEnd;
      *line += L"  ";
      lineLength = 2;
    }
  }
}

std::wstring valueLine(const RegValue& value) {
  std::wstring line = value.name.empty() ? std::wstring(L"@") : quoted(value.name);
  line += L'=';
  if (isPlainString(value)) {
    line += quoted(stringFromData(value.data));
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    wchar_t number[24];
    std::swprintf(number, 24, L"dword:%08x", static_cast<unsigned>(littleEndianValue(value.data)));
    line += number;
  } else {
    appendHex(&line, value.type, value.data);
  }
  return line;
}

}  // namespace

bool formatRegFile(const std::vector<KeySnapshot>& keys, std::wstring* text, std::string* error) {
  std::wstring out(kRegFileHeader);
  out += kLineEnd;
  out += kLineEnd;
  for (const auto& key : keys) {
    const std::wstring path = fullPath(key.path);
    if (hasLineBreak(path)) {
      *error = "The key \"" + wideToUtf8(path) + "\" has a line break in its name and cannot be exported.";
      return false;
    }
    out += L"[" + path + L"]";
    out += kLineEnd;
    for (const auto& value : key.values) {
      if (hasLineBreak(value.name)) {
        *error = "The value \"" + wideToUtf8(value.name) + "\" under \"" + wideToUtf8(path) +
                 "\" has a line break in its name and cannot be exported.";
        return false;
      }
      out += valueLine(value);
      out += kLineEnd;
    }
    out += kLineEnd;
  }
  *text = std::move(out);
  return true;
}

}  // namespace utils::btutil
