// Fuzz target: the trace family's formatter. The input is a format (narrow or
// wide) and a buffer size; the arguments come from a source that records what
// each directive takes. The oracle, written apart from the formatter from the
// documented grammar of the directives, checks that:
//   - the argument kinds taken are exactly the documented ones, in order (a
//     prefix of them when the output filled up);
//   - the output is terminated inside the buffer;
//   - integer directives print as the C library prints their C equivalents.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <type_traits>
#include <vector>

#include "diag/format_engine.h"

namespace {

using utils::diag::ArgumentKind;
using utils::diag::ArgumentValue;

const wchar_t kCountedUnits[] = L"counted text";
const utils::diag::format_detail::CountedString kCounted{static_cast<uint16_t>(3 * sizeof(wchar_t)), 24, kCountedUnits};

// The value the source gives as the index-th argument of a kind.
ArgumentValue valueFor(ArgumentKind kind, size_t index) {
  static const int64_t kIntegers[] = {0, 1, -1, 42, INT32_MIN, 255, 70000, INT64_MIN, 0x123456789ALL};
  static const long double kFloats[] = {1.5L, -0.0L, 1e300L, NAN, INFINITY, 0.1L, 1e4000L};
  static const wchar_t kWideChars[] = {L'a', 0xE9, 0x20AC, 0x1F600, 0xD800, 0};
  static const char* const kNarrowStrings[] = {"abc", nullptr, "\xc3\xa9x", ""};
  static const wchar_t* const kWideStrings[] = {L"wide", nullptr, L"\u00e9\U0001F600"};
  ArgumentValue value;
  switch (kind) {
    case ArgumentKind::Double: value.floating = static_cast<double>(kFloats[index % 7]); break;
    case ArgumentKind::LongDouble: value.floating = kFloats[index % 7]; break;
    case ArgumentKind::WideChar: value.bits = static_cast<uint64_t>(kWideChars[index % 6]); break;
    case ArgumentKind::NarrowString: value.pointer = kNarrowStrings[index % 4]; break;
    case ArgumentKind::WideString: value.pointer = kWideStrings[index % 3]; break;
    case ArgumentKind::Pointer: value.pointer = index % 3 == 1 ? nullptr : &kCounted; break;
    default: {
      int64_t v = kIntegers[index % 9];
      // As a C argument of the kind would arrive: ints are 32-bit.
      if (kind == ArgumentKind::Int) v = static_cast<int32_t>(v);
      value.bits = static_cast<uint64_t>(v);
    }
  }
  return value;
}

class RecordingArguments {
 public:
  ArgumentValue take(ArgumentKind kind) {
    taken.push_back(kind);
    return valueFor(kind, taken.size() - 1);
  }
  std::vector<ArgumentKind> taken;
};

// ---- The oracle: the documented directives, read without the formatter's tables.

struct Expected {
  std::vector<ArgumentKind> kinds;
  bool integersOnly = true;  // every directive is an integer one, %% or plain text
  std::vector<std::u32string> directives;
  std::vector<std::u32string> texts;  // texts[i] precedes directives[i]; one more at the end
};

bool startsWith(const std::u32string& s, size_t at, const char* prefix) {
  for (size_t k = 0; prefix[k] != 0; ++k) {
    if (at + k >= s.size() || s[at + k] != static_cast<char32_t>(prefix[k])) return false;
  }
  return true;
}

ArgumentKind integerKind(const std::string& size) {
  if (size == "l") return ArgumentKind::Long;
  if (size == "ll" || size == "L") return ArgumentKind::LongLong;
  if (size == "I64") return ArgumentKind::Int64;
  if (size == "j") return ArgumentKind::IntMax;
  if (size == "z" || size == "I") return ArgumentKind::Size;
  if (size == "t") return ArgumentKind::Ptrdiff;
  return ArgumentKind::Int;  // none, hh, h, w, I32
}

Expected expectedFor(const std::u32string& f, bool wideFormat) {
  Expected e;
  std::u32string text;
  size_t i = 0;
  while (i < f.size()) {
    if (f[i] != U'%') {
      text.push_back(f[i++]);
      continue;
    }
    size_t j = i + 1;
    while (j < f.size() && (f[j] == U'-' || f[j] == U'+' || f[j] == U' ' || f[j] == U'#' || f[j] == U'0')) ++j;
    bool stars = false;
    if (j < f.size() && f[j] == U'*') {
      e.kinds.push_back(ArgumentKind::Int);
      stars = true;
      ++j;
    } else {
      while (j < f.size() && f[j] >= U'0' && f[j] <= U'9') ++j;
    }
    if (j < f.size() && f[j] == U'.') {
      ++j;
      if (j < f.size() && f[j] == U'*') {
        e.kinds.push_back(ArgumentKind::Int);
        stars = true;
        ++j;
      } else {
        while (j < f.size() && f[j] >= U'0' && f[j] <= U'9') ++j;
      }
    }
    std::string size;
    for (const char* candidate : {"hh", "h", "ll", "l", "L", "w", "I64", "I32", "I", "j", "z", "t"}) {
      if (startsWith(f, j, candidate)) {
        size = candidate;
        j += size.size();
        break;
      }
    }
    const char32_t c = j < f.size() ? f[j] : 0;
    if (j < f.size()) ++j;
    const std::u32string directive = f.substr(i, j - i);
    const bool h = size == "h", lw = size == "l" || size == "w";
    bool integer = false;
    if (c == U'd' || c == U'i' || c == U'o' || c == U'u' || c == U'x' || c == U'X') {
      e.kinds.push_back(integerKind(size));
      integer = true;
    } else if (c == U'e' || c == U'E' || c == U'f' || c == U'F' || c == U'g' || c == U'G' || c == U'a' || c == U'A') {
      e.kinds.push_back(size == "L" ? ArgumentKind::LongDouble : ArgumentKind::Double);
    } else if (c == U'c' || c == U'C') {
      const bool wideArgument = h ? false : lw ? true : (wideFormat == (c == U'c'));
      e.kinds.push_back(wideArgument ? ArgumentKind::WideChar : ArgumentKind::Int);
    } else if (c == U's' || c == U'S') {
      const bool wideArgument = h ? false : lw ? true : (wideFormat == (c == U's'));
      e.kinds.push_back(wideArgument ? ArgumentKind::WideString : ArgumentKind::NarrowString);
    } else if (c == U'Z' || c == U'p' || c == U'n') {
      e.kinds.push_back(ArgumentKind::Pointer);
    } else if (c == U'%') {
      integer = true;  // prints itself
    }
    if (!integer || stars) e.integersOnly = false;
    e.texts.push_back(text);
    text.clear();
    e.directives.push_back(directive);
    i = j;
  }
  e.texts.push_back(text);
  return e;
}

// The C library's rendering of one integer directive with the value taken.
std::string referenceInteger(const std::u32string& directive, ArgumentKind kind, uint64_t bits) {
  std::string spec;
  size_t k = 0;
  for (; k < directive.size(); ++k) {
    const char32_t c = directive[k];
    if (startsWith(directive, k, "I64") || startsWith(directive, k, "I32")) {
      if (directive[k + 1] == U'6') spec += "ll";
      k += 2;
      continue;
    }
    if (c == U'I') {
      spec += "z";
      continue;
    }
    if (c == U'w' || c == U'L') {  // no size for w; L on integers is long long
      if (c == U'L') spec += "ll";
      continue;
    }
    spec.push_back(static_cast<char>(c));
  }
  if (spec == "%%") return "%";
  char out[10000];
  switch (kind) {
    case ArgumentKind::Long: std::snprintf(out, sizeof out, spec.c_str(), static_cast<long>(bits)); break;
    case ArgumentKind::LongLong:
    case ArgumentKind::Int64: std::snprintf(out, sizeof out, spec.c_str(), static_cast<long long>(bits)); break;
    case ArgumentKind::IntMax: std::snprintf(out, sizeof out, spec.c_str(), static_cast<intmax_t>(bits)); break;
    case ArgumentKind::Size: std::snprintf(out, sizeof out, spec.c_str(), static_cast<size_t>(bits)); break;
    case ArgumentKind::Ptrdiff: std::snprintf(out, sizeof out, spec.c_str(), static_cast<ptrdiff_t>(bits)); break;
    default: std::snprintf(out, sizeof out, spec.c_str(), static_cast<int>(bits)); break;
  }
  return out;
}

// Whether a directive's numbers stay small enough for the reference.
bool modest(const std::u32string& directive) {
  uint64_t number = 0;
  for (char32_t c : directive) {
    if (c >= U'0' && c <= U'9') {
      number = number * 10 + (c - U'0');
      if (number > 4096) return false;
    } else {
      number = 0;
    }
  }
  return true;
}

template <typename Char>
void check(const std::u32string& format32, size_t capacity) {
  std::basic_string<Char> format;
  for (char32_t c : format32) format.push_back(static_cast<Char>(c));
  const bool wideFormat = sizeof(Char) != 1;
  std::vector<Char> buffer(capacity + 1, static_cast<Char>(0x55));
  RecordingArguments arguments;
  const size_t length = utils::diag::formatDirectives(buffer.data(), capacity, format.c_str(), arguments);
  if (length >= capacity || buffer[length] != 0 || buffer[capacity] != static_cast<Char>(0x55)) std::abort();

  const Expected expected = expectedFor(format32, wideFormat);
  const auto& taken = arguments.taken;
  if (taken.size() > expected.kinds.size()) std::abort();
  for (size_t k = 0; k < taken.size(); ++k) {
    if (taken[k] != expected.kinds[k]) std::abort();
  }
  // Short of the end, every directive must have had its arguments.
  if (length + 5 < capacity && taken.size() != expected.kinds.size()) std::abort();

  if (!expected.integersOnly) return;
  for (const auto& directive : expected.directives) {
    if (!modest(directive)) return;
  }
  std::string reference;
  size_t argument = 0;
  for (size_t d = 0; d < expected.directives.size(); ++d) {
    for (char32_t c : expected.texts[d]) reference.push_back(static_cast<char>(c));
    const std::u32string& directive = expected.directives[d];
    if (directive == U"%%" || directive.back() == U'%') {
      reference += "%";
      continue;
    }
    const ArgumentKind kind = expected.kinds[argument];
    reference += referenceInteger(directive, kind, valueFor(kind, argument).bits);
    ++argument;
  }
  for (char32_t c : expected.texts.back()) reference.push_back(static_cast<char>(c));
  // A cut text may lose the end of a character the cut left incomplete.
  if (reference.size() > capacity - 1) {
    reference.resize(capacity - 1);
    if (length + 3 < reference.size() || length > reference.size()) std::abort();
  } else if (reference.size() != length) {
    std::abort();
  }
  for (size_t k = 0; k < length; ++k) {
    if (static_cast<char32_t>(static_cast<unsigned char>(reference[k])) !=
        static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(buffer[k])))
      std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 4096) return 0;
  const bool wide = (data[0] & 1) != 0;
  static const size_t kCapacities[] = {1, 2, 3, 8, 16, 64, 256, 2048};
  const size_t capacity = kCapacities[(data[0] >> 1) & 7];
  std::u32string format;
  for (size_t i = 1; i < size && data[i] != 0; ++i) format.push_back(data[i]);
  if (wide) {
    check<wchar_t>(format, capacity);
  } else {
    check<char>(format, capacity);
  }
  return 0;
}
