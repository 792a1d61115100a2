#include "port/linux/assuan_text.h"

#include <cstdint>

namespace utils::linuxport {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string assuanEscape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  bool leading = true;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    leading = leading && (c == ' ' || c == '\t');
    if (c == '%' || byte < 0x20 || byte == 0x7F || leading) {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::optional<size_t> assuanUnescape(const char* data, size_t size, char* out, size_t capacity) {
  size_t length = 0;
  for (size_t i = 0; i < size; ++i) {
    char c = data[i];
    if (c == '%') {
      if (size - i < 3) return std::nullopt;
      const int high = hexValue(data[i + 1]);
      const int low = hexValue(data[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (length >= capacity) return std::nullopt;
    out[length++] = c;
  }
  return length;
}

std::optional<size_t> utf8ToWideBuffer(const char* data, size_t size, wchar_t* out, size_t capacity) {
  if (capacity == 0) return std::nullopt;
  size_t count = 0;
  for (size_t i = 0; i < size;) {
    const auto lead = static_cast<unsigned char>(data[i]);
    uint32_t value = 0;
    size_t extra = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
      value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      value = lead & 0x1F, extra = 1, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      value = lead & 0x0F, extra = 2, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      value = lead & 0x07, extra = 3, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (extra > size - i - 1) return std::nullopt;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(data[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      value = (value << 6) | (next & 0x3F);
    }
    if (value == 0 || value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return std::nullopt;
    }
    if (count + 1 >= capacity) return std::nullopt;
    out[count++] = static_cast<wchar_t>(value);
    i += extra + 1;
  }
  out[count] = L'\0';
  return count;
}

}  // namespace utils::linuxport
