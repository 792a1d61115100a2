#include "reg_file_text.h"

#include "common/utf16.h"
#include "numbers.h"
#include "reg_value.h"
#include "text_codec.h"

namespace utils::btutil::reg_text {

std::wstring_view skipBlanks(std::wstring_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  return text;
}

bool endsHere(std::wstring_view rest) {
  rest = skipBlanks(rest);
  return rest.empty() || rest.front() == L';';
}

std::string shown(std::wstring_view text) { return "\"" + wideToUtf8(text) + "\""; }

bool parseQuoted(std::wstring_view line, size_t* pos, std::wstring* out, std::string* reason) {
  out->clear();
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    const wchar_t c = line[i];
    if (c == L'"') {
      *pos = i + 1;
      return true;
    }
    if (c != L'\\') {
      out->push_back(c);
      continue;
    }
    const wchar_t next = i + 1 < line.size() ? line[i + 1] : L'\0';
    if (next == L'\\' || next == L'"') {
      out->push_back(next);
    } else if (next == L'n' || next == L'r') {
      out->push_back(next == L'n' ? L'\n' : L'\r');  // as regedit writes line breaks
    } else if (next == L'0') {
      *reason = "A quoted text cannot hold \\0 (a NUL); write such data as hex(1):.";
      return false;
    } else {
      // reg.exe drops the backslash and keeps the character, so that
      // "C:\Temp" would be stored as "C:Temp": refused instead.
      *reason = "Unknown escape \\" + wideToUtf8(std::wstring_view(&next, next == L'\0' ? 0 : 1)) +
                " in a quoted text (reg.exe would drop the backslash): write a backslash as \\\\ and a quote as \\\".";
      return false;
    }
    ++i;
  }
  *reason = "A quoted text has no closing quote.";
  return false;
}

bool parseDword(std::wstring_view text, RegValue* value, std::string* reason) {
  text = skipBlanks(text);
  uint64_t number = 0;
  size_t digits = 0;
  while (digits < text.size() && hexDigitValue(text[digits]) >= 0) {
    number = number * 16 + static_cast<uint64_t>(hexDigitValue(text[digits]));
    if (++digits > 8) break;
  }
  if (digits == 0 || digits > 8 || !endsHere(text.substr(digits))) {
    *reason = "A dword is 1 to 8 hex digits, as in dword:0000000c, and only a ; comment may follow.";
    return false;
  }
  value->type = REG_DWORD;
  value->data = littleEndianBytes(number, 4);
  return true;
}

bool parseHexType(std::wstring_view text, DWORD* type, std::wstring_view* list, std::string* reason) {
  const size_t close = text.find(L"):");
  uint64_t number = 0;
  bool digits = close != std::wstring_view::npos && close >= 1 && close <= 8;
  for (size_t i = 0; digits && i < close; ++i) {
    const int digit = hexDigitValue(text[i]);
    digits = digit >= 0;
    number = number * 16 + static_cast<uint64_t>(digit < 0 ? 0 : digit);
  }
  if (!digits) {
    *reason = "A typed hex value is written hex(N): with N the type in 1 to 8 hex digits, as in hex(b):.";
    return false;
  }
  *type = static_cast<DWORD>(number);
  *list = text.substr(close + 2);
  return true;
}

bool parseHexLine(std::wstring_view line, std::vector<BYTE>* bytes, bool* continues, std::string* reason) {
  *continues = false;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i == line.size() || line[i] == L';') return true;  // the list ends (perhaps after a comma)
    if (line[i] == L'\\') {
      if (endsHere(line.substr(i + 1))) {
        *continues = true;
        return true;
      }
      *reason = "Only blanks or a ; comment may follow a continuation \"\\\".";
      return false;
    }
    const size_t start = i;
    unsigned value = 0;
    while (i < line.size() && hexDigitValue(line[i]) >= 0 && value <= 0xFF) {
      value = value * 16 + static_cast<unsigned>(hexDigitValue(line[i]));
      ++i;
    }
    if (i == start || value > 0xFF) {
      *reason =
          "Bad hex data at " + shown(line.substr(start, 12)) + ": bytes are 1 or 2 hex digits separated by commas.";
      return false;
    }
    bytes->push_back(static_cast<BYTE>(value));
    if (i < line.size() && line[i] == L',') {
      ++i;
      continue;
    }
    if (endsHere(line.substr(i))) return true;
    *reason = skipBlanks(line.substr(i)).front() == L'\\' ? "A continuation \"\\\" must follow a comma."
                                                          : "Bad hex data at " + shown(line.substr(start, 12)) +
                                                                ": bytes are 1 or 2 hex digits separated by commas.";
    return false;
  }
}

void finishStringData(DWORD type, bool unicode, std::vector<BYTE>* data) {
  if ((type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) || data->empty()) return;
  // hex(1) keeps its bytes as written: export uses it for exactly the strings
  // that lack their terminator or hold a NUL.
  const bool terminate = type != REG_SZ;
  if (unicode) {
    const size_t size = data->size();
    if (terminate && size % 2 == 0 && ((*data)[size - 2] != 0 || (*data)[size - 1] != 0)) {
      data->insert(data->end(), {0, 0});
    }
    return;
  }
  if (terminate && data->back() != 0) data->push_back(0);
  const std::string bytes =
      utf16ToLeBytes(wideToUtf16(decodeAnsi({reinterpret_cast<const char*>(data->data()), data->size()})));
  data->assign(bytes.begin(), bytes.end());
}

}  // namespace utils::btutil::reg_text
