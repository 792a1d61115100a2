#include "text_codec.h"

#include "common/utf16.h"

namespace utils::btutil {
namespace {

bool startsWith(std::string_view bytes, std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; }

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool decodeUtf16Le(std::string_view bytes, std::wstring* text, std::string* error) {
  if (bytes.size() % 2 != 0) {
    *error = "The file is not valid UTF-16: it ends in the middle of a character.";
    return false;
  }
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    units.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i + 1]) << 8 | static_cast<unsigned char>(bytes[i])));
  }
  // A surrogate without its partner stands for no character: refused rather
  // than read as U+FFFD.
  size_t line = 1;
  for (size_t i = 0; i < units.size(); ++i) {
    if (units[i] == u'\n') ++line;
    if (isHighSurrogate(units[i]) && i + 1 < units.size() && isLowSurrogate(units[i + 1])) {
      ++i;
    } else if (isHighSurrogate(units[i]) || isLowSurrogate(units[i])) {
      *error = "Line " + std::to_string(line) + ": the text is not valid UTF-16 (a lone surrogate).";
      return false;
    }
  }
  *text = utf16ToWide(units);
  return true;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  // The converter turns every malformed sequence into U+FFFD, so a well-formed
  // text is exactly one that comes back unchanged.
  return wideToUtf8(utf8ToWide(text)) == text;
}

std::wstring decodeAnsi(std::string_view bytes) {
  if (isValidUtf8(bytes)) return utf8ToWide(bytes);
  // Windows-1252 is Latin-1 but for 0x80 to 0x9F; its five unassigned bytes map
  // to the same code points, as Windows maps them.
  static constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::wstring text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text.push_back(byte >= 0x80 && byte < 0xA0 ? static_cast<wchar_t>(kHigh[byte - 0x80]) : static_cast<wchar_t>(byte));
  }
  return text;
}

bool decodeRegFileText(std::string_view bytes, std::wstring* text, bool* utf16, std::string* error) {
  *utf16 = startsWith(bytes, "\xFF\xFE");
  if (*utf16) return decodeUtf16Le(bytes.substr(2), text, error);
  // reg.exe reads any other byte order mark as ANSI characters before the
  // header, so the file is not a registry file to it: refused here too rather
  // than imported where reg.exe would import nothing.
  if (startsWith(bytes, "\xEF\xBB\xBF") || startsWith(bytes, "\xFE\xFF")) {
    *error = std::string("The file starts with a ") + (bytes[0] == '\xEF' ? "UTF-8" : "UTF-16 big-endian") +
             " byte order mark, which reg.exe does not read: save it as UTF-16LE (as reg export writes it)"
             " or as UTF-8 without the mark.";
    return false;
  }
  if (bytes.find('\0') != std::string_view::npos) {
    *error = "The file holds NUL bytes: UTF-16 text needs its byte order mark (FF FE).";
    return false;
  }
  *text = decodeAnsi(bytes);
  return true;
}

std::string encodeUtf16LeWithBom(std::wstring_view text) { return "\xFF\xFE" + utf16ToLeBytes(wideToUtf16(text)); }

}  // namespace utils::btutil
