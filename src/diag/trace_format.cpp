#include "diag/trace_format.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace utils::diag {
namespace {

#if !defined(_WIN32)
// Rewrites Windows format directives into the C library's. Wide formats:
// s, c -> ls, lc; S, C, hs, hc -> s, c; ws, wc -> ls, lc. Both widths: I64 -> ll,
// I32 -> (none), I -> z. Everything else is copied unchanged.
template <typename Char>
std::basic_string<Char> translateFormat(const Char* format, bool wide) {
  std::basic_string<Char> out;
  const Char* p = format;
  while (*p != 0) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    out.push_back(*p++);
    if (*p == '%') {
      out.push_back(*p++);
      continue;
    }
    // Flags, width and precision pass through unchanged.
    auto isFlagOrWidth = [](Char c) {
      return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'' || c == '*' || c == '.' ||
             (c >= '0' && c <= '9');
    };
    while (*p != 0 && isFlagOrWidth(*p)) out.push_back(*p++);

    // Length modifier.
    enum class Length { None, Narrow, Wide, Other } length = Length::None;
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      out.push_back('l');
      out.push_back('l');
      p += 3;
      length = Length::Other;
    } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3;
      length = Length::Other;
    } else if (p[0] == 'I') {
      out.push_back('z');
      p += 1;
      length = Length::Other;
    } else if (p[0] == 'h' && (p[1] == 's' || p[1] == 'c' || p[1] == 'S' || p[1] == 'C')) {
      p += 1;
      length = Length::Narrow;
    } else if ((p[0] == 'l' || p[0] == 'w') && (p[1] == 's' || p[1] == 'c' || p[1] == 'S' || p[1] == 'C')) {
      p += 1;
      length = Length::Wide;
    } else {
      while (*p == 'h' || *p == 'l' || *p == 'L' || *p == 'q' || *p == 'j' || *p == 'z' || *p == 't') {
        out.push_back(*p++);
        length = Length::Other;
      }
    }
    if (*p == 0) break;

    const Char conversion = *p++;
    const bool isString = conversion == 's' || conversion == 'S';
    const bool isChar = conversion == 'c' || conversion == 'C';
    if (!isString && !isChar) {
      out.push_back(conversion);
      continue;
    }
    bool wideArgument;
    switch (length) {
      case Length::Narrow: wideArgument = false; break;
      case Length::Wide: wideArgument = true; break;
      default: {
        const bool upper = conversion == 'S' || conversion == 'C';
        wideArgument = wide ? !upper : upper;  // the upper-case form takes the other width
      }
    }
    if (wideArgument) out.push_back('l');
    out.push_back(isString ? 's' : 'c');
  }
  return out;
}
#endif

}  // namespace

void formatBounded(char* buffer, size_t capacity, const char* format, va_list args) {
  std::memset(buffer, 0, capacity);
#if defined(_WIN32)
  const int written = _vsnprintf(buffer, capacity - 1, format, args);
#else
  // The C library reads narrow formats as Windows does, but for the I and w
  // length prefixes; only a format that may hold them is rewritten.
  std::string translated;
  if (std::strpbrk(format, "Iw") != nullptr) {
    translated = translateFormat(format, false);
    format = translated.c_str();
  }
  const int written = std::vsnprintf(buffer, capacity, format, args);
#endif
  (void)written;
  buffer[capacity - 1] = '\0';
}

void formatBounded(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) {
  // The buffer is cleared first: on overflow or an encoding error the C library
  // leaves the output unterminated.
  std::wmemset(buffer, 0, capacity);
#if defined(_WIN32)
  const int written = _vsnwprintf(buffer, capacity - 1, format, args);
#else
  const std::wstring translated = translateFormat(format, true);
  const int written = std::vswprintf(buffer, capacity, translated.c_str(), args);
#endif
  (void)written;
  buffer[capacity - 1] = L'\0';
}

}  // namespace utils::diag
