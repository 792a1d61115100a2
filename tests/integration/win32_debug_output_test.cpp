// The Win32 debugger output adapter, read back as a debug monitor reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "dbwin_capture.h"
#include "port/win32/win32_debug_output.h"

namespace {

using utils::testing::DbwinCapture;
using utils::win32port::Win32DebugOutput;

std::string convert(UINT codePage, const std::wstring& text) {
  const int needed = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(needed), '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), -1, out.data(), needed, nullptr, nullptr);
  out.pop_back();
  return out;
}

// Each text whole and in order; wide text arrives in the ANSI code page.
TEST(Win32DebugOutputTest, WritesEachTextWholeAndInOrder) {
  DbwinCapture capture;
  if (!capture.ready()) GTEST_SKIP() << capture.error();
  Win32DebugOutput output;

  const std::string longText(3000, 'L');
  const std::wstring accented = L"caf\u00E9";
  output.writeNarrow("first line\n");
  output.writeNarrow("no newline added");
  output.writeNarrow(longText.c_str());
  output.writeNarrow("");
  output.writeWide(L"wide text 42\n");
  output.writeWide(accented.c_str());
  EXPECT_EQ(capture.flush(), (std::vector<std::string>{"first line\n", "no newline added", longText, "",
                                                       "wide text 42\n", convert(CP_ACP, accented)}));
}

TEST(Win32DebugOutputTest, ConvertsToTheOemCodePage) {
  Win32DebugOutput output;
  char buffer[2048];
  auto oem = [&output, &buffer](const std::wstring& text, size_t capacity = sizeof buffer) {
    std::memcpy(buffer, "stale", 6);
    EXPECT_TRUE(output.wideToOem(text.c_str(), buffer, capacity));
    return std::string(buffer);
  };
  EXPECT_EQ(oem(L""), "");
  EXPECT_EQ(oem(L"[utils] plain ASCII 0123"), "[utils] plain ASCII 0123");

  // A text longer than the buffer is cut to fit, terminator included.
  EXPECT_EQ(oem(std::wstring(5000, L'w')), std::string(2047, 'w'));
  EXPECT_EQ(oem(L"abcdef", 4), "abc");
  EXPECT_EQ(oem(L"abcdef", 1), "");

  // Non-ASCII text takes the OEM code page's bytes, which differ from the ANSI
  // ones for these letters in every Western code page pair (437/1252, 850/1252).
  const std::wstring letters = L"Gr\u00F6\u00DFe \u00E9t\u00E9";
  const std::string out = oem(letters);
  EXPECT_EQ(out, convert(CP_OEMCP, letters));
  CPINFO info{};
  ASSERT_TRUE(GetCPInfo(CP_OEMCP, &info));
  if (info.MaxCharSize == 1) {
    EXPECT_EQ(out.size(), letters.size()) << "one byte per letter";
  }
  if (GetOEMCP() != GetACP()) {
    EXPECT_NE(out, convert(CP_ACP, letters));
  }

  // Round trip through the OEM code page gives the letters back.
  const int chars = MultiByteToWideChar(CP_OEMCP, 0, out.c_str(), -1, nullptr, 0);
  std::wstring back(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_OEMCP, 0, out.c_str(), -1, back.data(), chars);
  back.pop_back();
  if (GetOEMCP() == 437 || GetOEMCP() == 850) {
    EXPECT_EQ(back, letters);
  }
}

}  // namespace
