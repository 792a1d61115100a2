#include <gtest/gtest.h>

#include <string>

#include "utils/trace.h"

namespace {

TEST(ValueDecoderTest, DigitCountFollowsMagnitude) {
  EXPECT_STREQ("Unknown type: 0x1234", XAD_Decode(0x1234, "ANY"));
  EXPECT_STREQ("Unknown type: 0x00012345", XAD_Decode(0x12345, "ANY"));
  EXPECT_STREQ("Unknown type: 0x00", XAD_Decode(0, "ANY"));
  EXPECT_STREQ("Unknown type: 0xFF", XAD_Decode(0xFF, nullptr));
  EXPECT_STREQ("Unknown type: 0x0100", XAD_Decode(0x100, ""));
  EXPECT_STREQ("Unknown type: 0xFFFF", XAD_Decode(0xFFFF, "x"));
  EXPECT_STREQ("Unknown type: 0xABCDEF01", XAD_Decode(0xABCDEF01, "x"));
  EXPECT_STREQ("Unknown type: 0xFFFFFFFF", XAD_Decode(0xFFFFFFFF, "x"));
}

TEST(ValueDecoderTest, TenSlotsAreReusedInTurn) {
  char* first = XAD_Decode(1, "t");
  std::vector<char*> next;
  for (int i = 0; i < 9; ++i) next.push_back(XAD_Decode(static_cast<DWORD>(0x100 + i), "t"));
  for (char* p : next) EXPECT_NE(first, p);
  EXPECT_STREQ("Unknown type: 0x01", first);  // intact after nine more texts
  char* eleventh = XAD_Decode(0xBEEF, "t");
  EXPECT_EQ(first, eleventh);
  EXPECT_STREQ("Unknown type: 0xBEEF", first);
}

}  // namespace
