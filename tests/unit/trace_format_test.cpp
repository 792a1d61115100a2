// The format directives of the trace family keep the Windows C runtime's
// meaning in narrow and wide formats, whatever else the format holds, and text
// arguments convert the same whatever the C library's locale (never set here).
#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "diag/trace_format.h"

namespace utils::test {
namespace {

// The text formatBounded makes of format and the arguments, in a buffer of Capacity.
template <size_t Capacity = 256, typename Char>
std::basic_string<Char> formatted(const Char* format, ...) {
  Char buffer[Capacity];
  va_list args;
  va_start(args, format);
  diag::formatBounded(buffer, Capacity, format, args);
  va_end(args);
  return buffer;
}

// On every platform, with the C runtime's formatter on Windows.
TEST(TraceFormatTest, WindowsDirectivesKeepFlagsAndWidths) {
  EXPECT_EQ(L"100% [  ab] [x  ]", formatted(L"100%% [%4s] [%-3c]", L"ab", L'x'));
  EXPECT_EQ(L"-5 ffffffffffffffff 7", formatted(L"%I32d %I64x %Iu", -5, ~0ULL, size_t{7}));
  EXPECT_EQ(L"n w", formatted(L"%hs %ws", "n", L"w"));
  EXPECT_EQ("w 12345678901", formatted("%ws %I64d", L"w", 12345678901LL));
  EXPECT_EQ("wide|abc|x", formatted("%S|%hS|%hC", L"wide", "abc", 'x'));
  EXPECT_EQ("0123456789abcde", formatted<16>("%s", "0123456789abcdefghij"));
  EXPECT_EQ(63u, formatted<64>(L"%s", std::wstring(100, L'z').c_str()).size());
}

// The library's own formatter (elsewhere than on Windows).
#if !defined(_WIN32)

TEST(TraceFormatTest, TextArgumentsTakeTheirWidthFromTheDirectiveAlone) {
  // In a narrow format: c, s narrow; C, S, lc, ls, wc, ws wide; hc, hs, hC,
  // hS narrow. None of it depends on other letters of the format.
  EXPECT_EQ("abc|x", formatted("%hS|%hC", "abc", 'x'));
  EXPECT_EQ("abc|x|w|y", formatted("%hS|%hC|%S|%C", "abc", 'x', L"w", L'y'));
  EXPECT_EQ("n|w|w|w|w|n", formatted("%s|%S|%ls|%ws|%lS|%hs", "n", L"w", L"w", L"w", L"w", "n"));
  EXPECT_EQ("n|w|w|w|n", formatted("%c|%C|%lc|%wc|%hc", 'n', L'w', L'w', L'w', 'n'));
  EXPECT_EQ("abc|x 7", formatted("%hS|%hC %I64d", "abc", 'x', int64_t{7}));  // with I as well
  // In a wide format: c, s wide; C, S, hc, hs, hC, hS narrow; l and w wide.
  EXPECT_EQ(L"w|n|n|n|w|w", formatted(L"%s|%S|%hs|%hS|%ls|%lS", L"w", "n", "n", "n", L"w", L"w"));
  EXPECT_EQ(L"w|n|n|n|w", formatted(L"%c|%C|%hc|%hC|%wc", L'w', 'n', 'n', 'n', L'w'));
}

TEST(TraceFormatTest, NonAsciiTextConvertsWithoutTheLocale) {
  // UTF-8 stands for the narrow encoding, with or without setlocale; the text
  // after the argument stays.
  EXPECT_EQ("[\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80] tail", formatted("[%S] tail", L"\u00e9\u20ac\U0001F600"));
  EXPECT_EQ("[\xc3\xa9|\xe2\x82\xac] tail", formatted("[%ls|%C] tail", L"\u00e9", L'\u20ac'));
  EXPECT_EQ(L"[\u00e9\u20ac|\u00e9] tail", formatted(L"[%S|%hs] tail", "\xc3\xa9\xe2\x82\xac", "\xc3\xa9"));
  // Invalid input becomes U+FFFD; nothing is lost after it.
  EXPECT_EQ(L"[\uFFFDx] tail", formatted(L"[%S] tail", "\xffx"));
  EXPECT_EQ("[\xef\xbf\xbd] tail", formatted("[%S] tail", std::wstring(1, static_cast<wchar_t>(0xD800)).c_str()));
  // A cut never splits a converted character: 7 two-byte letters fit in 15 bytes.
  EXPECT_EQ(std::string(7 * 2, ' ').replace(0, 14, "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"),
            formatted<16>("%S", std::wstring(9, L'\u00e9').c_str()));
}

// Integer directives print as the C library prints their C equivalents, in
// narrow and wide formats, each size read as its own C type from a va_list.
TEST(TraceFormatTest, IntegerDirectivesPrintAsTheCLibrary) {
  const auto check = [](const char* ours, const char* c, auto value) {
    char expected[64];
    std::snprintf(expected, sizeof expected, c != nullptr ? c : ours, value);
    const std::string narrow(ours);
    EXPECT_EQ(expected, formatted(ours, value)) << ours << " " << value;
    EXPECT_EQ(std::wstring(expected, expected + std::strlen(expected)),
              formatted(std::wstring(narrow.begin(), narrow.end()).c_str(), value))
        << ours << " " << value;
  };
  for (int value : {0, 1, -1, 42, INT32_MIN, 255, 70000}) {
    for (const char* directive : {"%d", "%+05d", "%-8x", "%#o", "%.3u", "%hd", "%hhu", "%hhd", "% d", "%+d", "%#x",
                                  "%#X", "%5.3i", "%.0d", "%-5d", "%05d", "%u"}) {
      check(directive, nullptr, value);
    }
    check("%I32d", "%d", value);
    check("%wd", "%d", value);
  }
  // The 64-bit sizes (long, size_t, ptrdiff_t and intmax_t are long long here).
  static_assert(sizeof(long) == sizeof(long long) && sizeof(size_t) == sizeof(long long));
  const std::pair<const char*, const char*> kSized[] = {
      {"%I64x", "%llx"}, {"%I64u", "%llu"}, {"%I64d", "%lld"}, {"%Lx", "%llx"}, {"%llu", "%llu"}, {"%lld", "%lld"},
      {"%Iu", "%zu"},    {"%zd", "%zd"},    {"%zu", "%zu"},    {"%td", "%td"},  {"%jd", "%jd"},   {"%ld", "%ld"}};
  for (long long value : {0LL, -1LL, 42LL, LLONG_MIN, 0x123456789ALL}) {
    for (const auto& [ours, c] : kSized) {
      check(ours, c, value);
    }
  }
}

// Stars, precisions, pointers and directives the formatter does not know.
TEST(TraceFormatTest, IntegerArgumentsWidthsPointersAndUnknownDirectives) {
  EXPECT_EQ("  -42|7    |", formatted("%*d|%*d|", 5, -42, -5, 7));
  EXPECT_EQ("|0|007", formatted("%.0d|%.*d|%.*d", 0, -1, 0, 3, 7));
  EXPECT_EQ("0000000000001234", formatted("%p", reinterpret_cast<void*>(0x1234)));
  EXPECT_EQ(L"0000000000001234", formatted(L"%p", reinterpret_cast<void*>(0x1234)));
  // Directives it does not know print as they stand and take no argument.
  EXPECT_EQ("%|%|%y|%I6d|7|%hl", formatted("%%|%5%|%y|%I6d|%d|%hl", 7));
}

TEST(TraceFormatTest, StringsCharactersAndCounts) {
  const char unterminated[3] = {'a', 'b', 'c'};  // precision bounds the read
  EXPECT_EQ("ab|(null)|(nu|  x|x  |", formatted("%.2s|%s|%.3s|%3c|%-3c|", unterminated, static_cast<char*>(nullptr),
                                                static_cast<char*>(nullptr), 'x', 'x'));
  EXPECT_EQ("000ab|ab   |   ab", formatted("%05s|%-5s|%5S", "ab", "ab", L"ab"));  // '0' pads strings with zeros
  // Width and precision count the argument's own elements: bytes of a narrow one.
  EXPECT_EQ(L"(null)| \u00e9", formatted(L"%s|%3S", static_cast<wchar_t*>(nullptr), "\xc3\xa9"));
  // %n takes its pointer and writes nothing; the arguments after it still line up.
  int count = -1;
  EXPECT_EQ("ab7", formatted("ab%n%d", &count, 7));
  EXPECT_EQ(-1, count);
  // Counted strings: a byte length, then the buffer.
  struct Counted {
    uint16_t length;
    uint16_t maximum;
    const void* buffer;
  };
  const Counted ansi{3, 8, "abcdef"};
  const wchar_t units[] = L"wxyz";
  const Counted unicode{static_cast<uint16_t>(2 * sizeof(wchar_t)), 8, units};
  EXPECT_EQ("abc|wx|(null)", formatted("%Z|%wZ|%Z", &ansi, &unicode, static_cast<void*>(nullptr)));
  EXPECT_EQ("a%", formatted("a%"));
  EXPECT_EQ("a%5l", formatted("a%5l"));
}

TEST(TraceFormatTest, FloatingPoint) {
  EXPECT_EQ("3.14|-001.500|1.500000e+00|  2.5|2.5  |",
            formatted("%.2f|%08.3f|%e|%5.1f|%-5.1f|", 3.14159, -1.5, 1.5, 2.5, 2.5));
  EXPECT_EQ("0.25|1E+10|inf|   inf", formatted("%Lg|%G|%f|%06f", 0.25L, 1e10, 1.0 / 0.0, 1.0 / 0.0));
  EXPECT_EQ(L"3.14|0.25", formatted(L"%.2f|%Lg", 3.14159, 0.25L));
  // A precision larger than any buffer is cut, not honoured at the cost of the heap.
  EXPECT_EQ("1." + std::string(253, '0'), formatted("%.100000f", 1.0));
}

#endif  // !_WIN32

}  // namespace
}  // namespace utils::test
