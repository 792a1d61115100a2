#include "common/utf16.h"

namespace utils {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Calls emit with each code point of a wide string.
template <typename Emit>
void forEachCodePoint(std::wstring_view text, Emit emit) {
  size_t i = 0;
  while (i < text.size()) {
    const DecodedCharacter decoded = decodeWide(text.data() + i, text.size() - i);
    emit(decoded.codePoint);
    i += decoded.length;
  }
}

void appendUtf16(std::u16string& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

void appendWide(std::wstring& out, char32_t c) {
  wchar_t units[2];
  out.append(units, encodeWide(c, units));
}

}  // namespace

DecodedCharacter decodeWide(const wchar_t* text, size_t length) {
  if constexpr (sizeof(wchar_t) == 2) {
    const char32_t c = static_cast<char16_t>(text[0]);
    if (c >= 0xD800 && c <= 0xDBFF && length > 1) {
      const char32_t low = static_cast<char16_t>(text[1]);
      if (low >= 0xDC00 && low <= 0xDFFF) return {0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00), 2};
    }
    return {isSurrogate(c) ? kReplacement : c, 1};
  } else {
    const char32_t c = static_cast<char32_t>(text[0]);
    return {(isSurrogate(c) || c > 0x10FFFF) ? kReplacement : c, 1};
  }
}

DecodedCharacter decodeUtf8(const char* text, size_t length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t extra = 0;
  char32_t c = 0;
  if (lead < 0x80) return {lead, 1};
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    c = lead & 0x07;
  } else {
    return {kReplacement, 1};
  }
  if (extra >= length) return {kReplacement, 1};
  for (size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xC0) != 0x80) return {kReplacement, 1};
    c = (c << 6) | (next & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (c < kMinimum[extra] || c > 0x10FFFF || isSurrogate(c)) return {kReplacement, 1};
  return {c, extra + 1};
}

size_t encodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

size_t encodeWide(char32_t c, wchar_t* out) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out[0] = static_cast<wchar_t>(0xD800 + (c >> 10));
      out[1] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return 2;
    }
  }
  out[0] = static_cast<wchar_t>(c);
  return 1;
}

size_t wideToUtf8Bounded(const wchar_t* text, size_t length, char* destination, size_t capacity) {
  size_t written = 0;
  size_t i = 0;
  while (i < length) {
    const DecodedCharacter decoded = decodeWide(text + i, length - i);
    char bytes[4];
    const size_t size = encodeUtf8(decoded.codePoint, bytes);
    if (written + size > capacity - 1) break;
    for (size_t k = 0; k < size; ++k) destination[written++] = bytes[k];
    i += decoded.length;
  }
  destination[written] = '\0';
  return written;
}

size_t withoutPartialUtf8(const char* text, size_t length) {
  size_t start = length;
  size_t continuation = 0;
  while (start > 0 && continuation < 3 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80) {
    --start;
    ++continuation;
  }
  if (start == 0) return length;
  const auto lead = static_cast<unsigned char>(text[start - 1]);
  const size_t needed = lead >= 0xF0 && lead <= 0xF4   ? 3
                        : lead >= 0xE0 && lead <= 0xEF ? 2
                        : lead >= 0xC2 && lead <= 0xDF ? 1
                                                       : 0;
  return needed > continuation ? start - 1 : length;
}

size_t widenUtf16InPlace(wchar_t* buffer, size_t units) {
  if constexpr (sizeof(wchar_t) == 2) {
    return units;
  } else {
    auto* bytes = reinterpret_cast<unsigned char*>(buffer);
    // Backwards, so that no unit is overwritten before it is read: unit i sits
    // at byte 2i and goes to element i, which starts at byte 4i.
    for (size_t i = units; i-- > 0;) {
      buffer[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    size_t out = 0;
    for (size_t i = 0; i < units; ++i) {
      char32_t c = static_cast<char32_t>(buffer[i]);
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && buffer[i + 1] >= 0xDC00 && buffer[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(buffer[i + 1]) - 0xDC00);
        ++i;
      } else if (isSurrogate(c)) {
        c = kReplacement;
      }
      buffer[out++] = static_cast<wchar_t>(c);
    }
    for (size_t i = out; i < units; ++i) buffer[i] = 0;
    return out;
  }
}

std::u16string wideToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  forEachCodePoint(text, [&out](char32_t c) { appendUtf16(out, c); });
  return out;
}

std::wstring utf16ToWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (isSurrogate(c)) {
      c = kReplacement;
    }
    appendWide(out, c);
  }
  return out;
}

std::string wideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  forEachCodePoint(text, [&out](char32_t c) {
    char bytes[4];
    out.append(bytes, encodeUtf8(c, bytes));
  });
  return out;
}

std::wstring utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const DecodedCharacter decoded = decodeUtf8(text.data() + i, text.size() - i);
    appendWide(out, decoded.codePoint);
    i += decoded.length;
  }
  return out;
}

std::string utf16ToLeBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::u16string leBytesToUtf16(const unsigned char* bytes, size_t count) {
  std::u16string text;
  text.reserve(count / 2);
  for (size_t i = 0; i + 1 < count; i += 2) {
    text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return text;
}

}  // namespace utils
