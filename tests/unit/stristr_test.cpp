#include <gtest/gtest.h>

#include "utils/registry.h"

namespace {

TEST(StristrTest, FindsIgnoringAsciiCase) {
  wchar_t text[] = L"Hello World";
  EXPECT_EQ(text + 6, stristr(text, 12, L"WORLD"));
  EXPECT_EQ(text, stristr(text, 12, L"hello"));
  EXPECT_EQ(text + 10, stristr(text, 12, L"D"));
  EXPECT_EQ(nullptr, stristr(text, 12, L"xyz"));
  EXPECT_EQ(nullptr, stristr(text, 12, L"World!"));
  EXPECT_EQ(text, stristr(text, 12, L""));
  EXPECT_EQ(text, stristr(text, 12, nullptr));
  EXPECT_EQ(nullptr, stristr(nullptr, 12, L"a"));
}

TEST(StristrTest, DefaultLocaleFoldsOnlyAToZ) {
  wchar_t text[] = L"caf\u00c9";
  EXPECT_EQ(nullptr, stristr(text, 5, L"\u00e9"));
  EXPECT_EQ(text + 3, stristr(text, 5, L"\u00c9"));
  EXPECT_EQ(text, stristr(text, 5, L"CAF"));
}

TEST(StristrTest, TooSmallASizeIsNoMatch) {
  wchar_t text[] = L"abcdef";
  EXPECT_EQ(nullptr, stristr(text, 3, L"ab"));
  EXPECT_EQ(nullptr, stristr(text, 0, L"ab"));
  EXPECT_EQ(text + 4, stristr(text, 7, L"EF"));
}

}  // namespace
