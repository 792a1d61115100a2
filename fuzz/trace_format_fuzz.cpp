// Fuzz target: the trace family's formatter. The input is a format (narrow or
// wide) and a buffer size; each directive is given a value of the kind it asks
// for. Whatever the format, the output must stay inside the buffer and end
// there with a terminator (the sanitizers of a fuzzing build watch every read).
// What each directive prints and takes is the unit tests' (trace_format_test).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
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

// Gives each directive a value of the kind it asks for.
class Arguments {
 public:
  ArgumentValue take(ArgumentKind kind) { return valueFor(kind, taken_++); }

 private:
  size_t taken_ = 0;
};

template <typename Char>
void check(const std::u32string& format32, size_t capacity) {
  std::basic_string<Char> format;
  for (char32_t c : format32) format.push_back(static_cast<Char>(c));
  std::vector<Char> buffer(capacity + 1, static_cast<Char>(0x55));
  Arguments arguments;
  const size_t length = utils::diag::formatDirectives(buffer.data(), capacity, format.c_str(), arguments);
  if (length >= capacity || buffer[length] != 0 || buffer[capacity] != static_cast<Char>(0x55)) std::abort();
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
