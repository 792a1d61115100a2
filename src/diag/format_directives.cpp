#include "diag/format_directives.h"

#include <climits>
#include <cstddef>
#include <cstdint>

namespace utils::diag {
namespace {

// Integer argument per size prefix: its C type and the width it is read at.
struct IntegerSize {
  ArgumentKind kind;
  int bits;
};

constexpr IntegerSize integerSize(SizePrefix size) {
  switch (size) {
    case SizePrefix::Hh: return {ArgumentKind::Int, 8};
    case SizePrefix::H: return {ArgumentKind::Int, 16};
    case SizePrefix::L: return {ArgumentKind::Long, int(sizeof(long) * CHAR_BIT)};
    case SizePrefix::Ll:
    case SizePrefix::BigL: return {ArgumentKind::LongLong, int(sizeof(long long) * CHAR_BIT)};
    case SizePrefix::I64: return {ArgumentKind::Int64, 64};
    case SizePrefix::J: return {ArgumentKind::IntMax, int(sizeof(intmax_t) * CHAR_BIT)};
    case SizePrefix::Z:
    case SizePrefix::I: return {ArgumentKind::Size, int(sizeof(size_t) * CHAR_BIT)};
    case SizePrefix::T: return {ArgumentKind::Ptrdiff, int(sizeof(ptrdiff_t) * CHAR_BIT)};
    case SizePrefix::None:
    case SizePrefix::W:
    case SizePrefix::I32: return {ArgumentKind::Int, int(sizeof(int) * CHAR_BIT)};
  }
  return {ArgumentKind::Int, int(sizeof(int) * CHAR_BIT)};
}

struct ConversionEntry {
  char conversion;
  ConversionClass conversionClass;
  bool upperForm;  // C, S: the other width than the format's by default
};

constexpr ConversionEntry kConversions[] = {
    {'d', ConversionClass::SignedInteger, false},   {'i', ConversionClass::SignedInteger, false},
    {'o', ConversionClass::UnsignedInteger, false}, {'u', ConversionClass::UnsignedInteger, false},
    {'x', ConversionClass::UnsignedInteger, false}, {'X', ConversionClass::UnsignedInteger, false},
    {'e', ConversionClass::Floating, false},        {'E', ConversionClass::Floating, false},
    {'f', ConversionClass::Floating, false},        {'F', ConversionClass::Floating, false},
    {'g', ConversionClass::Floating, false},        {'G', ConversionClass::Floating, false},
    {'a', ConversionClass::Floating, false},        {'A', ConversionClass::Floating, false},
    {'c', ConversionClass::Character, false},       {'C', ConversionClass::Character, true},
    {'s', ConversionClass::String, false},          {'S', ConversionClass::String, true},
    {'Z', ConversionClass::CountedString, false},   {'p', ConversionClass::Pointer, false},
    {'n', ConversionClass::Count, false},           {'%', ConversionClass::Percent, false},
};

// Size prefixes, longest first where one begins another.
struct SizeEntry {
  const char* text;
  SizePrefix size;
};

constexpr SizeEntry kSizes[] = {
    {"hh", SizePrefix::Hh},  {"h", SizePrefix::H}, {"ll", SizePrefix::Ll},   {"l", SizePrefix::L},
    {"L", SizePrefix::BigL}, {"w", SizePrefix::W}, {"I64", SizePrefix::I64}, {"I32", SizePrefix::I32},
    {"I", SizePrefix::I},    {"j", SizePrefix::J}, {"z", SizePrefix::Z},     {"t", SizePrefix::T},
};

// Whether the character, string or counted string argument is wide.
bool wideArgument(SizePrefix size, bool upperForm, bool wideFormat, ConversionClass conversionClass) {
  if (size == SizePrefix::H) return false;
  if (size == SizePrefix::L || size == SizePrefix::W) return true;
  if (conversionClass == ConversionClass::CountedString) return false;
  return wideFormat != upperForm;
}

constexpr int kNumberLimit = INT_MAX / 10 - 1;

template <typename Char>
Directive parse(const Char* format, bool wideFormat) {
  Directive d;
  const Char* p = format + 1;
  for (;; ++p) {
    if (*p == '-') {
      d.leftAlign = true;
    } else if (*p == '+') {
      d.plusSign = true;
    } else if (*p == ' ') {
      d.spaceSign = true;
    } else if (*p == '#') {
      d.alternate = true;
    } else if (*p == '0') {
      d.zeroPad = true;
    } else {
      break;
    }
  }
  if (*p == '*') {
    d.widthFromArgument = true;
    ++p;
  } else {
    for (; *p >= '0' && *p <= '9'; ++p) d.width = d.width < kNumberLimit ? d.width * 10 + (*p - '0') : INT_MAX;
  }
  if (*p == '.') {
    d.hasPrecision = true;
    ++p;
    if (*p == '*') {
      d.precisionFromArgument = true;
      ++p;
    } else {
      for (; *p >= '0' && *p <= '9'; ++p) {
        d.precision = d.precision < kNumberLimit ? d.precision * 10 + (*p - '0') : INT_MAX;
      }
    }
  }
  for (const SizeEntry& entry : kSizes) {
    size_t n = 0;
    while (entry.text[n] != '\0' && p[n] == static_cast<Char>(entry.text[n])) ++n;
    if (entry.text[n] == '\0') {
      d.size = entry.size;
      p += n;
      break;
    }
  }
  d.conversion = static_cast<char32_t>(*p);
  if (*p != 0) ++p;
  d.length = static_cast<size_t>(p - format);
  for (const ConversionEntry& entry : kConversions) {
    if (d.conversion != static_cast<char32_t>(entry.conversion)) continue;
    d.conversionClass = entry.conversionClass;
    switch (entry.conversionClass) {
      case ConversionClass::SignedInteger:
      case ConversionClass::UnsignedInteger: {
        const IntegerSize size = integerSize(d.size);
        d.kind = size.kind;
        d.integerBits = size.bits;
        break;
      }
      case ConversionClass::Floating:
        d.kind = d.size == SizePrefix::BigL ? ArgumentKind::LongDouble : ArgumentKind::Double;
        break;
      case ConversionClass::Character:
        d.wideText = wideArgument(d.size, entry.upperForm, wideFormat, entry.conversionClass);
        d.kind = d.wideText ? ArgumentKind::WideChar : ArgumentKind::Int;
        break;
      case ConversionClass::String:
        d.wideText = wideArgument(d.size, entry.upperForm, wideFormat, entry.conversionClass);
        d.kind = d.wideText ? ArgumentKind::WideString : ArgumentKind::NarrowString;
        break;
      case ConversionClass::CountedString:
        d.wideText = wideArgument(d.size, entry.upperForm, wideFormat, entry.conversionClass);
        d.kind = ArgumentKind::Pointer;
        break;
      case ConversionClass::Pointer:
        d.kind = ArgumentKind::Pointer;
        d.integerBits = int(sizeof(void*) * CHAR_BIT);
        break;
      case ConversionClass::Count: d.kind = ArgumentKind::Pointer; break;
      case ConversionClass::Percent:
      case ConversionClass::NotAConversion: d.kind = ArgumentKind::None; break;
    }
    break;
  }
  return d;
}

}  // namespace

Directive parseDirective(const char* format) { return parse(format, false); }
Directive parseDirective(const wchar_t* format) { return parse(format, true); }

}  // namespace utils::diag
