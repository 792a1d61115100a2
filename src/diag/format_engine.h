// The trace family's formatter where the C runtime's own cannot be used: one
// pass over the format, each directive read by parseDirective and its
// arguments taken by their kinds from an argument source (va_list in the
// library, a recording source in the tests and the fuzz target). Text
// arguments are converted by the library itself (UTF-8 stands for the narrow
// encoding), never by the C library's locale. Nothing is allocated.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <type_traits>

#include "common/utf16.h"
#include "diag/format_directives.h"

namespace utils::diag {

// One argument as taken from the source.
struct ArgumentValue {
  uint64_t bits = 0;  // integers, wide characters
  long double floating = 0;
  const void* pointer = nullptr;
};

// A source of arguments: ArgumentValue take(ArgumentKind) gives the next one.
// Width and precision stars are taken as ArgumentKind::Int.

// Floating-point precision beyond what any trace buffer can show is cut here,
// which keeps the C library's conversion on its stack.
inline constexpr int kMaxFloatingPrecision = 2100;

template <typename Char>
class FormatOutput {
 public:
  FormatOutput(Char* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  bool full() const { return full_; }
  size_t length() const { return length_; }

  void put(Char c) {
    if (length_ + 1 < capacity_) {
      buffer_[length_++] = c;
    } else {
      full_ = true;
    }
  }
  void repeat(Char c, size_t count) {
    for (; count > 0 && !full_; --count) put(c);
  }
  // One character in the output's encoding, whole or not at all.
  void putCodePoint(char32_t c) {
    Char units[4];
    size_t count;
    if constexpr (sizeof(Char) == 1) {
      count = encodeUtf8(c, reinterpret_cast<char*>(units));
    } else {
      count = encodeWide(c, reinterpret_cast<wchar_t*>(units));
    }
    if (length_ + count + 1 > capacity_) {
      full_ = true;
      return;
    }
    for (size_t i = 0; i < count; ++i) buffer_[length_++] = units[i];
  }
  // Terminates the text; a narrow text that filled the buffer loses a UTF-8
  // character that the cut left incomplete.
  void finish() {
    if constexpr (sizeof(Char) == 1) {
      if (full_) length_ = withoutPartialUtf8(reinterpret_cast<const char*>(buffer_), length_);
    }
    buffer_[length_] = 0;
  }

 private:
  Char* buffer_;
  size_t capacity_;
  size_t length_ = 0;
  bool full_ = false;
};

namespace format_detail {

inline uint64_t truncated(uint64_t bits, int width) { return width >= 64 ? bits : bits & ((uint64_t{1} << width) - 1); }

// Pads a field of `length` elements to the directive's width around `body`.
template <typename Char, typename Body>
void padded(FormatOutput<Char>& out, const Directive& d, size_t length, Body body) {
  const size_t width = d.width > 0 ? static_cast<size_t>(d.width) : 0;
  const size_t padding = width > length ? width - length : 0;
  if (!d.leftAlign) out.repeat(static_cast<Char>(d.zeroPad ? '0' : ' '), padding);
  body();
  if (d.leftAlign) out.repeat(static_cast<Char>(' '), padding);
}

template <typename Char>
void integer(FormatOutput<Char>& out, const Directive& d, uint64_t bits) {
  const bool isSigned = d.conversionClass == ConversionClass::SignedInteger;
  const bool isPointer = d.conversionClass == ConversionClass::Pointer;
  bits = truncated(bits, d.integerBits);
  bool negative = false;
  uint64_t magnitude = bits;
  if (isSigned && d.integerBits > 0 && (bits >> (d.integerBits - 1)) != 0) {
    negative = true;
    magnitude = truncated(~bits + 1, d.integerBits);
  }
  const char conversion = isPointer ? 'X' : static_cast<char>(d.conversion);
  const unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
  const char* digitSet = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[24];
  size_t count = 0;
  for (uint64_t v = magnitude; v != 0; v /= base) digits[count++] = digitSet[v % base];
  // The precision is the least number of digits (a pointer shows all of its).
  size_t precision = 1;
  if (isPointer) {
    precision = 2 * sizeof(void*);
  } else if (d.hasPrecision) {
    precision = static_cast<size_t>(d.precision);
  }
  size_t zeros = precision > count ? precision - count : 0;
  if (d.alternate && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != '0')) zeros = 1;
  char prefix[2];
  size_t prefixLength = 0;
  if (negative) {
    prefix[prefixLength++] = '-';
  } else if (isSigned && d.plusSign) {
    prefix[prefixLength++] = '+';
  } else if (isSigned && d.spaceSign) {
    prefix[prefixLength++] = ' ';
  }
  if (d.alternate && base == 16 && magnitude != 0) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = conversion;
  }
  const size_t body = prefixLength + zeros + count;
  const size_t width = d.width > 0 ? static_cast<size_t>(d.width) : 0;
  const size_t padding = width > body ? width - body : 0;
  // Zeros fill the width after the sign unless a precision or '-' is given.
  const bool zeroFill = d.zeroPad && !d.leftAlign && !d.hasPrecision && !isPointer;
  if (!d.leftAlign && !zeroFill) out.repeat(static_cast<Char>(' '), padding);
  for (size_t i = 0; i < prefixLength; ++i) out.put(static_cast<Char>(prefix[i]));
  if (zeroFill) out.repeat(static_cast<Char>('0'), padding);
  out.repeat(static_cast<Char>('0'), zeros);
  while (count > 0) out.put(static_cast<Char>(digits[--count]));
  if (d.leftAlign) out.repeat(static_cast<Char>(' '), padding);
}

template <typename Char>
void floating(FormatOutput<Char>& out, const Directive& d, long double value) {
  // The C library converts the number (sign, digits, exponent) on a stack
  // buffer; the width is laid out here.
  char spec[16];
  size_t n = 0;
  spec[n++] = '%';
  if (d.plusSign) spec[n++] = '+';
  if (d.spaceSign) spec[n++] = ' ';
  if (d.alternate) spec[n++] = '#';
  spec[n++] = '.';
  spec[n++] = '*';
  if (d.kind == ArgumentKind::LongDouble) spec[n++] = 'L';
  spec[n++] = static_cast<char>(d.conversion);
  spec[n] = '\0';
  int precision = d.hasPrecision ? d.precision : -1;
  if (precision > kMaxFloatingPrecision) precision = kMaxFloatingPrecision;
  char text[kMaxFloatingPrecision + 5000];
  int length = d.kind == ArgumentKind::LongDouble
                   ? std::snprintf(text, sizeof text, spec, precision, value)
                   : std::snprintf(text, sizeof text, spec, precision, static_cast<double>(value));
  if (length < 0) return;
  if (static_cast<size_t>(length) >= sizeof text) length = sizeof text - 1;
  const size_t size = static_cast<size_t>(length);
  // Zeros go after the sign (and a hexadecimal prefix), and only into numbers.
  size_t signLength = (size > 0 && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) ? 1 : 0;
  if (size > signLength + 1 && text[signLength] == '0' && (text[signLength + 1] == 'x' || text[signLength + 1] == 'X'))
    signLength += 2;
  const bool finite = size > signLength && text[signLength] >= '0' && text[signLength] <= '9';
  const size_t width = d.width > 0 ? static_cast<size_t>(d.width) : 0;
  const size_t padding = width > size ? width - size : 0;
  const bool zeroFill = d.zeroPad && !d.leftAlign && finite;
  if (!d.leftAlign && !zeroFill) out.repeat(static_cast<Char>(' '), padding);
  size_t i = 0;
  if (zeroFill) {
    for (; i < signLength; ++i) out.put(static_cast<Char>(text[i]));
    out.repeat(static_cast<Char>('0'), padding);
  }
  while (i < size && !out.full()) {
    const DecodedCharacter c = decodeUtf8(text + i, size - i);  // a locale's decimal point may be any character
    out.putCodePoint(c.codePoint);
    i += c.length;
  }
  if (d.leftAlign) out.repeat(static_cast<Char>(' '), padding);
}

// Copies count elements of a narrow or wide text into the output, converting
// between UTF-8 and wide characters where the widths differ.
template <typename Char, typename Source>
void copyText(FormatOutput<Char>& out, const Source* text, size_t count) {
  if constexpr (std::is_same_v<Source, Char>) {
    for (size_t i = 0; i < count && !out.full(); ++i) out.put(static_cast<Char>(text[i]));
  } else {
    size_t i = 0;
    while (i < count && !out.full()) {
      DecodedCharacter c;
      if constexpr (sizeof(Source) == 1) {
        c = decodeUtf8(reinterpret_cast<const char*>(text) + i, count - i);
      } else {
        c = decodeWide(reinterpret_cast<const wchar_t*>(text) + i, count - i);
      }
      out.putCodePoint(c.codePoint);
      i += c.length;
    }
  }
}

// The elements of text before its terminator, at most limit.
template <typename Source>
size_t boundedLength(const Source* text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

// A string argument: precision and width count the argument's own elements.
template <typename Char, typename Source>
void formatText(FormatOutput<Char>& out, const Directive& d, const Source* value, size_t knownLength, bool counted) {
  static constexpr Source kNull[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  if (value == nullptr) {
    value = kNull;
    counted = false;
  }
  size_t limit = d.hasPrecision ? static_cast<size_t>(d.precision) : SIZE_MAX;
  if (counted && knownLength < limit) limit = knownLength;
  const size_t length = counted ? limit : boundedLength(value, limit);
  padded(out, d, length, [&] { copyText(out, value, length); });
}

// The layout of a counted string (ANSI_STRING, UNICODE_STRING): a length and a
// capacity in bytes, then the buffer.
struct CountedString {
  uint16_t length;
  uint16_t maximumLength;
  const void* buffer;
};

}  // namespace format_detail

// Formats into buffer (capacity > 0 elements), cutting at capacity - 1 and
// never in the middle of a character that a conversion produced. Always
// terminated; returns the elements written.
template <typename Char, typename Arguments>
size_t formatDirectives(Char* buffer, size_t capacity, const Char* format, Arguments& arguments) {
  using namespace format_detail;
  FormatOutput<Char> out(buffer, capacity);
  const Char* p = format;
  while (*p != 0 && !out.full()) {
    if (*p != '%') {
      out.put(*p++);
      continue;
    }
    Directive d = parseDirective(p);
    if (d.widthFromArgument) {
      const int width = static_cast<int>(arguments.take(ArgumentKind::Int).bits);
      d.leftAlign = d.leftAlign || width < 0;
      d.width = width < 0 ? (width == INT_MIN ? INT_MAX : -width) : width;
    }
    if (d.precisionFromArgument) {
      const int precision = static_cast<int>(arguments.take(ArgumentKind::Int).bits);
      d.hasPrecision = precision >= 0;  // a negative one counts as none
      d.precision = precision < 0 ? 0 : precision;
    }
    const ArgumentValue value = d.kind == ArgumentKind::None ? ArgumentValue{} : arguments.take(d.kind);
    switch (d.conversionClass) {
      case ConversionClass::NotAConversion:
        for (size_t i = 0; i < d.length; ++i) out.put(p[i]);
        break;
      case ConversionClass::Percent: out.put(static_cast<Char>('%')); break;
      case ConversionClass::SignedInteger:
      case ConversionClass::UnsignedInteger: integer(out, d, value.bits); break;
      case ConversionClass::Pointer:
        integer(out, d, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value.pointer)));
        break;
      case ConversionClass::Floating: floating(out, d, value.floating); break;
      case ConversionClass::Character:
        padded(out, d, 1, [&] {
          if (d.wideText) {
            const auto c = static_cast<wchar_t>(value.bits);
            copyText(out, &c, 1);
          } else {
            const auto c = static_cast<char>(value.bits);
            copyText(out, &c, 1);
          }
        });
        break;
      case ConversionClass::String:
        if (d.wideText) {
          formatText(out, d, static_cast<const wchar_t*>(value.pointer), 0, false);
        } else {
          formatText(out, d, static_cast<const char*>(value.pointer), 0, false);
        }
        break;
      case ConversionClass::CountedString: {
        const auto* counted = static_cast<const CountedString*>(value.pointer);
        const void* data = counted != nullptr ? counted->buffer : nullptr;
        const size_t bytes = counted != nullptr ? counted->length : 0;
        if (d.wideText) {
          formatText(out, d, static_cast<const wchar_t*>(data), bytes / sizeof(wchar_t), true);
        } else {
          formatText(out, d, static_cast<const char*>(data), bytes, true);
        }
        break;
      }
      case ConversionClass::Count: break;  // the count is never written anywhere
    }
    p += d.length;
  }
  out.finish();
  return out.length();
}

}  // namespace utils::diag
