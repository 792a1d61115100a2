#include <gtest/gtest.h>

#include "common/utf16.h"

namespace {

TEST(Utf16Test, RoundTripsThroughEveryForm) {
  const std::wstring text = L"a\u00e9\u20ac\U0001F600";
  const std::u16string units = utils::wideToUtf16(text);
  EXPECT_EQ(u"a\u00e9\u20ac\U0001F600", units);
  EXPECT_EQ(text, utils::utf16ToWide(units));
  EXPECT_EQ("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", utils::wideToUtf8(text));
  EXPECT_EQ(text, utils::utf8ToWide(utils::wideToUtf8(text)));
  const std::string le = utils::utf16ToLeBytes(u"A\u20ac");
  EXPECT_EQ(std::string("A\0\xac\x20", 4), le);
  EXPECT_EQ(u"A\u20ac", utils::leBytesToUtf16(reinterpret_cast<const unsigned char*>(le.data()), le.size()));
  EXPECT_EQ(u"A", utils::leBytesToUtf16(reinterpret_cast<const unsigned char*>("A\0\x01"), 3));
}

TEST(Utf16Test, InvalidInputBecomesReplacementCharacters) {
  EXPECT_EQ(L"\uFFFDx", utils::utf16ToWide(std::u16string{char16_t(0xD800), u'x'}));
  EXPECT_EQ(L"\uFFFD", utils::utf8ToWide("\xff"));
  EXPECT_EQ(L"\uFFFD", utils::utf8ToWide("\xc0\xaf").substr(0, 1));  // overlong
  EXPECT_EQ(L"\uFFFD\uFFFDa", utils::utf8ToWide("\xe2\x82"
                                                "a"));                   // cut short
  EXPECT_EQ(L"\uFFFD", utils::utf8ToWide("\xed\xa0\x80").substr(0, 1));  // encoded surrogate
}

}  // namespace
