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

// Each item ends with a NUL and the list with one more; an empty item would end
// the list early, so it is refused.
bool multiStringData(std::string_view text, std::string_view separator, std::vector<BYTE>* data, std::string* error) {
  if (separator.empty()) separator = "\\0";
  std::u16string units;
  if (!text.empty()) {
    for (size_t start = 0;;) {
      const size_t end = text.find(separator, start);
      const std::string_view item = text.substr(start, end - start);
      if (item.empty()) {
        *error = "Invalid data for REG_MULTI_SZ: an empty string cannot stand inside the list.";
        return false;
      }
      units += wideToUtf16(utf8ToWide(item));
      units.push_back(u'\0');
      if (end == std::string_view::npos) break;
      start = end + separator.size();
    }
  }
  units.push_back(u'\0');
  const std::string bytes = utf16ToLeBytes(units);
  data->assign(bytes.begin(), bytes.end());
  return true;
}

}  // namespace

std::optional<DWORD> parseTypeName(std::string_view name) {
  for (const auto& entry : kTypeNames) {
    if (equalsIgnoringCase(name, entry.name)) return entry.type;
  }
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
    case REG_EXPAND_SZ: *data = stringData(utf8ToWide(text)); return true;
    case REG_MULTI_SZ: return multiStringData(text, separator, data, error);
    case REG_DWORD:
    case REG_QWORD: {
      const bool dword = type == REG_DWORD;
      if (text.empty()) text = "0";
      const auto number = parseUnsigned(text, dword ? 0xFFFFFFFFull : ~0ull);
      if (!number) {
        *error = std::string("Invalid data \"") + std::string(text) + "\" for " + typeName(type) +
                 ": give a decimal number or 0x followed by hex digits, at most " +
                 (dword ? "0xFFFFFFFF." : "0xFFFFFFFFFFFFFFFF.");
        return false;
      }
      *data = littleEndianBytes(*number, dword ? 4 : 8);
      return true;
    }
    case REG_BINARY:
    case REG_NONE: {
      auto bytes = parseHexBytes(text);
      if (!bytes) {
        *error = "Invalid data \"" + std::string(text) + "\" for " + typeName(type) +
                 ": give pairs of hex digits without separators, for example 0a0b0c.";
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
