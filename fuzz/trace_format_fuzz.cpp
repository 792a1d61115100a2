// Fuzz target: the trace family's formatter. The input is a format (narrow or
// wide) and a buffer size; the arguments come from a source that records what
// each directive takes. The oracle, written apart from the formatter from the
// documented grammar of the directives, checks that the argument kinds taken
// are exactly the documented ones, in order (a prefix of them when the output
// filled up), and that the output is terminated inside the buffer. (How
// integer directives print is compared with the C library by the unit tests.)
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>
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

// The argument kinds that the directives of f take, in order.
std::vector<ArgumentKind> expectedKinds(const std::u32string& f, bool wideFormat) {
  std::vector<ArgumentKind> kinds;
  const auto in = [&f](size_t at, std::u32string_view set) { return at < f.size() && set.find(f[at]) != set.npos; };
  for (size_t j = 0; j < f.size();) {
    if (f[j++] != U'%') continue;
    while (in(j, U"-+ #0")) ++j;
    const auto number = [&] {  // a width or a precision: '*' takes an int, or digits
      if (in(j, U"*")) {
        kinds.push_back(ArgumentKind::Int);
        ++j;
      } else {
        while (in(j, U"0123456789")) ++j;
      }
    };
    number();
    if (in(j, U".")) {
      ++j;
      number();
    }
    std::string size;
    for (const char* candidate : {"hh", "h", "ll", "l", "L", "w", "I64", "I32", "I", "j", "z", "t"}) {
      if (startsWith(f, j, candidate)) {
        size = candidate;
        j += size.size();
        break;
      }
    }
    const char32_t c = j < f.size() ? f[j++] : 0;
    // Text arguments: h narrow, l and w wide, otherwise c and s follow the format, C and S the other width.
    const bool wideText = size == "h"                  ? false
                          : size == "l" || size == "w" ? true
                                                       : wideFormat == (c == U'c' || c == U's');
    if (std::u32string_view(U"diouxX").find(c) != std::u32string_view::npos) {
      kinds.push_back(integerKind(size));
    } else if (std::u32string_view(U"eEfFgGaA").find(c) != std::u32string_view::npos) {
      kinds.push_back(size == "L" ? ArgumentKind::LongDouble : ArgumentKind::Double);
    } else if (c == U'c' || c == U'C') {
      kinds.push_back(wideText ? ArgumentKind::WideChar : ArgumentKind::Int);
    } else if (c == U's' || c == U'S') {
      kinds.push_back(wideText ? ArgumentKind::WideString : ArgumentKind::NarrowString);
    } else if (c == U'Z' || c == U'p' || c == U'n') {
      kinds.push_back(ArgumentKind::Pointer);
    }
  }
  return kinds;
}

template <typename Char>
void check(const std::u32string& format32, size_t capacity) {
  std::basic_string<Char> format;
  for (char32_t c : format32) format.push_back(static_cast<Char>(c));
  std::vector<Char> buffer(capacity + 1, static_cast<Char>(0x55));
  RecordingArguments arguments;
  const size_t length = utils::diag::formatDirectives(buffer.data(), capacity, format.c_str(), arguments);
  if (length >= capacity || buffer[length] != 0 || buffer[capacity] != static_cast<Char>(0x55)) std::abort();
  const std::vector<ArgumentKind> expected = expectedKinds(format32, sizeof(Char) != 1);
  const auto& taken = arguments.taken;
  if (taken.size() > expected.size() || !std::equal(taken.begin(), taken.end(), expected.begin())) std::abort();
  // Short of the end, every directive must have had its arguments.
  if (length + 5 < capacity && taken.size() != expected.size()) std::abort();
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
