#include "xml/xml_chars.h"

#include <cstdint>

namespace utils::xml {
namespace {

// Reads one code point at *text and advances; 0xFFFFFFFF for a broken pair.
uint32_t nextCodePoint(const wchar_t** text) {
  const uint32_t unit = static_cast<uint32_t>(**text);
  ++*text;
  if constexpr (sizeof(wchar_t) == 2) {
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const uint32_t low = static_cast<uint32_t>(**text);
      if (low < 0xDC00 || low > 0xDFFF) return 0xFFFFFFFF;
      ++*text;
      return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return unit;
}

bool isChar(uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

bool isNameStartChar(uint32_t c) {
  return c == ':' || (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c <= 0xD6) ||
         (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
         (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
         (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool isNameChar(uint32_t c) {
  return isNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
         (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

}  // namespace

bool isXmlName(const wchar_t* name) {
  if (name == nullptr || *name == 0) return false;
  if (!isNameStartChar(nextCodePoint(&name))) return false;
  while (*name != 0) {
    if (!isNameChar(nextCodePoint(&name))) return false;
  }
  return true;
}

bool isXmlText(const wchar_t* text) {
  if (text == nullptr) return false;
  while (*text != 0) {
    if (!isChar(nextCodePoint(&text))) return false;
  }
  return true;
}

}  // namespace utils::xml
