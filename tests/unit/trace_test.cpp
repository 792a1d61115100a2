#include <string>

#include "sim_fixture.h"
#include "utils/trace.h"

namespace utils::test {
namespace {

using TraceTest = SimTest;

TEST_F(TraceTest, PrefixedLineFormatNarrowAndWide) {
  load(4, 0);
  sim_.clock.setLocalTime(9, 5, 7);
  WRITELOG_A(4, nullptr, "x=%d", 5);
  WRITELOG_A(4, "m", nullptr);  // no format: no line
  WRITELOG_W(4, L"m", nullptr);
  sim_.clock.setLocalTime(23, 59, 0);
  WRITELOG_A(4, "utils", "%s", "late");
  WRITELOG_A(-4, "neg", "signed");  // -4 has bit 2 set; the level prints signed
  // Wide lines are converted, module included; in wide formats %s is a wide
  // string and %S or %hs a narrow one.
  WRITELOG_W(4, L"m\u00f6d", L"%s|%S|%hs|%c|%I64u|%ls", L"wide \u00e9", "narrow", "h", L'\u20ac', 0x100000000ULL, L"l");
  EXPECT_EQ(
      (std::vector<std::string>{"[ 9:05:07][4][]x=5\n", "[23:59:00][4][utils]late\n", "[23:59:00][-4][neg]signed\n",
                                "[23:59:00][4][m\xc3\xb6"
                                "d]wide \xc3\xa9|narrow|h|\xe2\x82\xac|4294967296|l\n"}),
      lines());
}

TEST_F(TraceTest, LevelsAreFilteredByTheLogLevelMask) {
  for (const auto& [mask, kept] : {std::pair<DWORD, const char*>{0x4, "[4][utils]four"}, {0x2, "[3][utils]three"}}) {
    sim_.debugOutput.clear();
    load(mask, 0);
    WRITELOG_W(4, L"utils", L"four");
    WRITELOG_W(3, L"utils", L"three");
    WRITELOG_A(0, "utils", "zero");
    ASSERT_EQ(1u, lines().size()) << mask;
    EXPECT_NE(std::string::npos, lines()[0].find(kept)) << mask;
  }
  sim_.debugOutput.clear();
  load(0, 0);
  for (int level = -1; level < 64; ++level) WRITELOG_A(level, "m", "any");
  EXPECT_TRUE(lines().empty());
}

TEST_F(TraceTest, PlainMembersFollowTheirBitsAtlMembersNeedBothMasks) {
  load(0, 0x1 | 0x2 | 0x8);
  VRLN_BT_TRACE("t%d", 1);
  VRLN_BT_TRACE_BME_A("a");
  VRLN_BT_TRACE_BME_W(L"w%s", L"1");
  VRLN_BT_TRACE_BME_U(L"w%s", L"1");
  VRLN_BT_ATLTRACE_U(L"u");  // needs 0x2
  VRLN_BT_ATLTRACE_W(L"w");  // log level mask 0: nothing
  VRLN_BT_ATLTRACE_A("a");   // needs 0x4, not 0x2
  const auto entries = sim_.debugOutput.entries();
  ASSERT_EQ(6u, entries.size());
  EXPECT_EQ("AppDebug=11\n", entries[0].narrow);
  EXPECT_EQ("t1", entries[1].narrow);
  EXPECT_EQ("a", entries[2].narrow);
  EXPECT_TRUE(entries[3].wide);
  EXPECT_EQ(L"w1", entries[3].wideText);
  EXPECT_EQ(entries[3].wideText, entries[4].wideText);  // _W and _U behave the same
  EXPECT_EQ(L"u", entries[5].wideText);

  sim_.debugOutput.clear();
  diag::resetDebugSettings();
  load(4, 0x6);
  sim_.clock.setLocalTime(1, 2, 3);
  VRLN_BT_ATLTRACE_W(L"w%d", 2);
  VRLN_BT_ATLTRACE_A("a%d", 4);
  EXPECT_EQ((std::vector<std::string>{"AppDebug=6\n", "[ 1:02:03][4][]w2\n", "[ 1:02:03][4][]a4\n"}), lines());
}

TEST_F(TraceTest, LongTextsAreCutNeverOverrun) {
  load(4, 0x8 | 0x1);
  const std::string long3000(3000, 'x');
  VRLN_BT_TRACE("%s", long3000.c_str());
  const std::wstring wide3000(3000, L'y');
  VRLN_BT_TRACE_BME_W(L"%s", wide3000.c_str());
  auto entries = sim_.debugOutput.entries();
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ(std::string(2047, 'x'), entries[1].narrow);  // no newline added
  EXPECT_EQ(std::wstring(2047, L'y'), entries[2].wideText);

  // Prefixed lines: message cut at 2,047, composed line cut at 2,047 characters.
  sim_.debugOutput.clear();
  WRITELOG_A(4, "utils", "%s", long3000.c_str());
  ASSERT_EQ(1u, lines().size());
  EXPECT_EQ(2047u, lines()[0].size());
  EXPECT_EQ(0u, lines()[0].find("[ 9:05:07][4][utils]xxx"));

  // A long module tag and multi-byte texts are cut at a character boundary.
  sim_.debugOutput.clear();
  const std::wstring longModule(150, L'\u00e9');    // 300 bytes in UTF-8
  const std::wstring longMessage(1500, L'\u20ac');  // 4,500 bytes in UTF-8
  WRITELOG_W(4, longModule.c_str(), L"%s", longMessage.c_str());
  ASSERT_EQ(1u, lines().size());
  const std::string line = lines()[0];
  EXPECT_LE(line.size(), 2047u);
  const size_t moduleStart = line.find("][4][") + 5;
  const size_t moduleEnd = line.find(']', moduleStart);
  EXPECT_EQ(98u, moduleEnd - moduleStart);             // 49 two-byte characters fit in 99 bytes
  EXPECT_EQ(0u, (line.size() - (moduleEnd + 1)) % 3);  // whole euro signs only
}

TEST_F(TraceTest, FailedConversionDropsTheLineQuietly) {
  load(4, 0);
  sim_.debugOutput.failConversionOf(L'\u2603');
  WRITELOG_W(4, L"utils", L"snow \u2603");
  WRITELOG_W(4, L"\u2603", L"module");
  WRITELOG_W(4, L"utils", L"fine");
  ASSERT_EQ(1u, lines().size());
  EXPECT_NE(std::string::npos, lines()[0].find("fine"));
}

TEST_F(TraceTest, NothingEscapesFromAnOutputThatThrows) {
  load(0xFFFFFFFF, 0xFFFF);
  sim_.debugOutput.throwOnUse(true);
  // The first trace call reads the trace mask and loses its AppDebug line to
  // the failing output; the mask is settled all the same.
  EXPECT_NO_THROW(VRLN_BT_TRACE("t%d", 1));
  EXPECT_NO_THROW(VRLN_BT_TRACE_BME_A("a%s", "x"));
  EXPECT_NO_THROW(VRLN_BT_TRACE_BME_W(L"w%s", L"x"));
  EXPECT_NO_THROW(VRLN_BT_TRACE_BME_U(L"u%s", L"x"));
  EXPECT_NO_THROW(VRLN_BT_ATLTRACE_A("a%d", 1));
  EXPECT_NO_THROW(VRLN_BT_ATLTRACE_W(L"w%d", 1));
  EXPECT_NO_THROW(VRLN_BT_ATLTRACE_U(L"u%d", 1));
  EXPECT_NO_THROW(WRITELOG_A(4, "m", "%s", "x"));
  EXPECT_NO_THROW(WRITELOG_W(4, L"m", L"%s", L"x"));
  EXPECT_TRUE(sim_.debugOutput.entries().empty());

  sim_.debugOutput.throwOnUse(false);
  VRLN_BT_TRACE("after");
  WRITELOG_W(4, L"m", L"after");
  const auto entries = sim_.debugOutput.entries();
  ASSERT_EQ(2u, entries.size());  // no second AppDebug line
  EXPECT_EQ("after", entries[0].narrow);
  EXPECT_TRUE(entries[1].logLine);
  EXPECT_EQ(4, entries[1].level);
  EXPECT_EQ("m", entries[1].module);
}

}  // namespace
}  // namespace utils::test
