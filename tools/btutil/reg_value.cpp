#include "reg_value.h"

#include <cstdio>

#include "common/utf16.h"
#include "numbers.h"

namespace utils::btutil {
namespace {

struct TypeName {
  DWORD type;
  const char* name;
};

constexpr TypeName kTypeNames[] = {
    {REG_SZ, "REG_SZ"},       {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
    {REG_DWORD, "REG_DWORD"}, {REG_QWORD, "REG_QWORD"},         {REG_BINARY, "REG_BINARY"},
    {REG_NONE, "REG_NONE"},
};

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

// Items are split at the separator (at "\0" when none is given); a separator at
// the very end closes the list instead of starting an empty item, and the data
// end with the NUL of the last item and one more. An empty item anywhere else
// would end the list early, so it is refused; a lone separator is the list of
// one empty string.
bool multiStringData(std::string_view text, std::string_view separator, std::vector<BYTE>* data, std::string* error) {
  const std::u16string sep = separator.empty() ? std::u16string(u"\\0") : wideToUtf16(utf8ToWide(separator));
  const std::u16string input = wideToUtf16(utf8ToWide(text));
  std::u16string units;
  for (size_t i = 0; i < input.size();) {
    const bool atSeparator = input.compare(i, sep.size(), sep) == 0;
    units.push_back(atSeparator ? u'\0' : input[i]);
    i += atSeparator ? sep.size() : 1;
    const size_t last = units.size() - 1;
    if (last > 0 && units[last - 1] == u'\0' && (units[last] == u'\0' || last == 1)) {
      *error = "Invalid data for REG_MULTI_SZ: an empty string cannot stand inside the list.";
      return false;
    }
  }
  if (!units.empty() && units.back() != u'\0') units.push_back(u'\0');
  units.push_back(u'\0');
  const std::string bytes = utf16ToLeBytes(units);
  data->assign(bytes.begin(), bytes.end());
  return true;
}

// A REG_QWORD may also be given as a negative decimal number, stored in two's
// complement (-1 is all ones).
std::optional<uint64_t> parseQword(std::string_view text) {
  if (!text.empty() && text[0] == '-') {
    const std::string_view digits = text.substr(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const auto magnitude = parseUnsigned(digits, ~0ull);
    if (!magnitude) return std::nullopt;
    return 0 - *magnitude;
  }
  return parseUnsigned(text, ~0ull);
}

}  // namespace

std::optional<DWORD> parseTypeName(std::string_view name) {
  for (const auto& entry : kTypeNames) {
    if (equalsIgnoringCase(name, entry.name)) return entry.type;
  }
  if (equalsIgnoringCase(name, "REG_DWORD_LITTLE_ENDIAN")) return REG_DWORD;  // the same type under its other name
  // reg.exe stores this type's number in the same byte order as REG_DWORD's.
  if (equalsIgnoringCase(name, "REG_DWORD_BIG_ENDIAN")) return REG_DWORD_BIG_ENDIAN;
  return std::nullopt;
}

std::string typeName(DWORD type) {
  for (const auto& entry : kTypeNames) {
    if (entry.type == type) return entry.name;
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(type));
  return text;
}

std::string queryTypeName(DWORD type) { return type == REG_DWORD_BIG_ENDIAN ? "REG_DWORD_BIG_ENDIAN" : typeName(type); }

std::vector<BYTE> stringData(std::wstring_view text) {
  std::u16string units = wideToUtf16(text);
  units.push_back(u'\0');
  const std::string bytes = utf16ToLeBytes(units);
  return std::vector<BYTE>(bytes.begin(), bytes.end());
}

std::wstring stringFromData(const std::vector<BYTE>& data) {
  std::u16string units = leBytesToUtf16(data.data(), data.size());
  const size_t nul = units.find(u'\0');
  if (nul != std::u16string::npos) units.resize(nul);
  return utf16ToWide(units);
}

bool buildValueData(DWORD type, std::string_view text, std::string_view separator, std::vector<BYTE>* data,
                    std::string* error) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_NONE: *data = stringData(utf8ToWide(text)); return true;
    case REG_MULTI_SZ: return multiStringData(text, separator, data, error);
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
    case REG_QWORD: {
      const bool dword = type != REG_QWORD;
      if (text.empty()) text = "0";
      const auto number = dword ? parseUnsigned(text, 0xFFFFFFFFull) : parseQword(text);
      if (!number) {
        *error = std::string("Invalid data \"") + std::string(text) + "\" for " + typeName(type) +
                 ": give a decimal number or 0x followed by hex digits, at most " +
                 (dword ? "0xFFFFFFFF." : "0xFFFFFFFFFFFFFFFF (or a negative decimal number).");
        return false;
      }
      *data = littleEndianBytes(*number, dword ? 4 : 8);
      return true;
    }
    case REG_BINARY: {
      // An odd count of digits is read with a 0 before the first one: "abc" is 0a bc.
      auto bytes = parseHexBytes(text.size() % 2 == 0 ? std::string(text) : "0" + std::string(text));
      if (!bytes) {
        *error = "Invalid data \"" + std::string(text) + "\" for " + typeName(type) +
                 ": give hex digits without separators, for example 0a0b0c.";
        return false;
      }
      *data = std::move(*bytes);
      return true;
    }
    default: *error = "Unsupported value type " + typeName(type) + "."; return false;
  }
}

std::vector<std::wstring> multiStringsFromData(const std::vector<BYTE>& data) {
  // Strings separated by NULs, the list closed by an empty string.
  const std::u16string units = leBytesToUtf16(data.data(), data.size());
  std::vector<std::wstring> items;
  size_t start = 0;
  while (start < units.size()) {
    size_t end = units.find(u'\0', start);
    if (end == std::u16string::npos) end = units.size();
    if (end == start) break;
    items.push_back(utf16ToWide(units.substr(start, end - start)));
    start = end + 1;
  }
  return items;
}

std::string displayData(const RegValue& value) {
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: return wideToUtf8(stringFromData(value.data));
    case REG_MULTI_SZ: {
      std::string text;
      for (const auto& item : multiStringsFromData(value.data)) {
        if (!text.empty()) text += "\\0";
        text += wideToUtf8(item);
      }
      return text;
    }
    case REG_DWORD:
    case REG_QWORD:
      if (value.data.size() == (value.type == REG_DWORD ? 4u : 8u)) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(littleEndianValue(value.data)));
        return text;
      }
      return hexBytes(value.data);  // a number of the wrong width: show what is stored
    default: return hexBytes(value.data);
  }
}

std::string displayName(const std::wstring& name) { return name.empty() ? "(Default)" : wideToUtf8(name); }

}  // namespace utils::btutil
