// The printf directives of the trace family, with the meaning the Windows C
// runtime gives them in narrow and in wide formats alike:
//
//   %[flags][width][.precision][size]conversion
//
// flags: any of - + space # 0; width and precision: digits or * (an int
// argument, taken where the star stands); size: hh h l ll L w I I32 I64 j z t;
// conversion: d i o u x X (integers), e E f F g G a A (floating point), c C
// (characters), s S (strings), Z (counted strings), p (pointer), n (count,
// never written), % (a percent sign). In a narrow format c and s take narrow
// arguments and C and S wide ones; in a wide format the other way round; the
// size h makes any of them narrow, l or w wide. A directive that does not end
// in a conversion is not one: it is printed as it stands and takes nothing
// but the stars it holds.
//
// Everything here is decided by the tables in format_directives.cpp, read in
// one pass over the format, whatever other letters the format holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace utils::diag {

// The C type of the argument that a directive takes (after the stars).
enum class ArgumentKind : uint8_t {
  None,          // %%, %n's count is not kept but its pointer is: see Pointer
  Int,           // int (also char and short, promoted; I32)
  Long,          // long
  LongLong,      // long long (ll, L on integers)
  Int64,         // int64_t (I64)
  IntMax,        // intmax_t (j)
  Size,          // size_t (z, I)
  Ptrdiff,       // ptrdiff_t (t)
  Double,        // double
  LongDouble,    // long double (L)
  WideChar,      // wint_t: a wide character
  NarrowString,  // const char*
  WideString,    // const wchar_t*
  Pointer,       // void* (p, n, Z)
};

enum class SizePrefix : uint8_t { None, Hh, H, L, Ll, BigL, W, I, I32, I64, J, Z, T };

enum class ConversionClass : uint8_t {
  NotAConversion,  // the directive is printed as it stands
  Percent,
  SignedInteger,
  UnsignedInteger,
  Floating,
  Character,
  String,
  CountedString,
  Pointer,
  Count,
};

struct Directive {
  size_t length = 0;  // format elements taken, '%' included
  bool leftAlign = false;
  bool plusSign = false;
  bool spaceSign = false;
  bool alternate = false;
  bool zeroPad = false;
  bool widthFromArgument = false;  // '*'
  int width = 0;
  bool hasPrecision = false;
  bool precisionFromArgument = false;  // ".*"
  int precision = 0;
  SizePrefix size = SizePrefix::None;
  char32_t conversion = 0;  // 0 when the format ended inside the directive
  ConversionClass conversionClass = ConversionClass::NotAConversion;
  ArgumentKind kind = ArgumentKind::None;
  bool wideText = false;  // c, s, Z: the argument is wide
  int integerBits = 0;    // integers: the width the value is read at (8 for hh)
};

// Reads the directive at format[0] == '%'. Never reads past the terminator.
Directive parseDirective(const char* format);
Directive parseDirective(const wchar_t* format);

}  // namespace utils::diag
