#include <gtest/gtest.h>

#include <string>

#include "utils/registry.h"

namespace {

// Only A to Z fold (the default locale); the text must end within the size given.
TEST(StristrTest, FindsIgnoringAsciiCaseWithinTheSize) {
  wchar_t text[] = L"Hello World caf\u00c9";  // 16 characters and the terminator
  const struct {
    const wchar_t* pattern;
    size_t size;
    ptrdiff_t at;  // -1: no match
  } rows[] = {
      {L"WORLD", 17, 6},       {L"hello", 17, 0}, {L"D", 17, 10},   {L"xyz", 17, -1},
      {L"CAF\u00c9!", 17, -1}, {L"", 17, 0},      {nullptr, 17, 0}, {L"\u00e9", 17, -1},
      {L"\u00c9", 17, 15},     {L"CAF", 17, 12},  {L"he", 16, -1},  {L"he", 0, -1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.at < 0 ? nullptr : text + row.at, stristr(text, row.size, row.pattern))
        << (row.pattern != nullptr ? ::testing::PrintToString(std::wstring(row.pattern)) : "null") << " in "
        << row.size;
  }
  EXPECT_EQ(nullptr, stristr(nullptr, 17, L"a"));
}

}  // namespace
