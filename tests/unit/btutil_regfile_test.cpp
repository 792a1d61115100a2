// The registry file text: formatting as regedit writes it, parsing what regedit
// and hand-written files hold, and the faults a malformed file is refused for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reg_file.h"
#include "text_codec.h"

namespace utils::btutil {
namespace {

RegValue dword(const wchar_t* name, DWORD v) {
  return {name, REG_DWORD, {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}};
}

std::vector<BYTE> counting(size_t count) {
  std::vector<BYTE> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<BYTE>(i);
  return bytes;
}

// The text with every '@' turned into a NUL character.
std::wstring withNul(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'@') c = L'\0';
  }
  return text;
}

std::vector<KeySnapshot> sampleTree() {
  const KeyPath top{HKEY_LOCAL_MACHINE, L"Software\\vorlane"};
  KeySnapshot first{top, {}};
  first.values.push_back({L"", REG_SZ, stringData(L"default")});
  first.values.push_back(dword(L"LogDebug", 12));
  first.values.push_back({L"Path", REG_SZ, stringData(L"C:\\Program Files\\\"Vorlane\"")});
  first.values.push_back({L"Na\"me\\", REG_SZ, stringData(L"")});
  first.values.push_back({L"Big", REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1}});
  first.values.push_back({L"Blob", REG_BINARY, counting(60)});
  first.values.push_back({L"Empty", REG_BINARY, {}});
  first.values.push_back({L"Expand", REG_EXPAND_SZ, stringData(L"%TEMP%")});
  first.values.push_back({L"Multi", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}});
  first.values.push_back({L"Lines", REG_SZ, stringData(L"one\r\ntwo")});
  first.values.push_back({L"Unterminated", REG_SZ, {'x', 0}});
  first.values.push_back({L"NoBytes", REG_SZ, {}});
  first.values.push_back({L"Nul", REG_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0}});
  first.values.push_back({L"ShortDword", REG_DWORD, {1, 2}});
  first.values.push_back({L"Odd", 0x20, {0xFF}});
  first.values.push_back({L"Accent\u00e9", REG_SZ, stringData(L"\u00e9t\u00e9 \u65e5")});
  KeySnapshot second{childPath(top, L"Sub]Key"), {dword(L"X", 1)}};
  return {first, second};
}

TEST(BtutilRegFileTest, FormatsAsRegeditWritesIt) {
  std::wstring text;
  std::string error;
  ASSERT_TRUE(formatRegFile(sampleTree(), &text, &error)) << error;
  const std::wstring expectedStart =
      L"Windows Registry Editor Version 5.00\r\n"
      L"\r\n"
      L"[HKEY_LOCAL_MACHINE\\Software\\vorlane]\r\n"
      L"@=\"default\"\r\n"
      L"\"LogDebug\"=dword:0000000c\r\n"
      L"\"Path\"=\"C:\\\\Program Files\\\\\\\"Vorlane\\\"\"\r\n"
      L"\"Na\\\"me\\\\\"=\"\"\r\n"
      L"\"Big\"=hex(b):08,07,06,05,04,03,02,01\r\n"
      // 22 bytes fill the first line to 77 characters, then 25 per continuation line.
      L"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
      L"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
      L"  2f,30,31,32,33,34,35,36,37,38,39,3a,3b\r\n"
      L"\"Empty\"=hex:\r\n"
      L"\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n"
      L"\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      // Strings the quoted form would not give back exactly are written in hex.
      L"\"Lines\"=hex(1):6f,00,6e,00,65,00,0d,00,0a,00,74,00,77,00,6f,00,00,00\r\n"
      L"\"Unterminated\"=hex(1):78,00\r\n"
      L"\"NoBytes\"=hex(1):\r\n"
      L"\"Nul\"=hex(1):61,00,00,00,62,00,00,00\r\n"
      L"\"ShortDword\"=hex(4):01,02\r\n"
      L"\"Odd\"=hex(20):ff\r\n"
      L"\"Accent\u00e9\"=\"\u00e9t\u00e9 \u65e5\"\r\n"
      L"\r\n"
      L"[HKEY_LOCAL_MACHINE\\Software\\vorlane\\Sub]Key]\r\n"
      L"\"X\"=dword:00000001\r\n"
      L"\r\n";
  EXPECT_EQ(expectedStart, text);
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find(L"\r\n", start);
    EXPECT_LE(end - start, 80u) << "line longer than regedit writes";
    start = end + 2;
  }

  // A line break in a name cannot be written: refused, naming it.
  std::vector<KeySnapshot> broken{{KeyPath{HKEY_CURRENT_USER, L"A"}, {dword(L"two\nlines", 1)}}};
  EXPECT_FALSE(formatRegFile(broken, &text, &error));
  EXPECT_NE(std::string::npos, error.find("line break")) << error;
}

TEST(BtutilRegFileTest, ParsingGivesBackWhatWasFormatted) {
  const auto tree = sampleTree();
  std::wstring text;
  std::string error;
  ASSERT_TRUE(formatRegFile(tree, &text, &error)) << error;
  // Through the file bytes too: UTF-16LE with its byte order mark.
  const std::string bytes = encodeUtf16LeWithBom(text);
  ASSERT_EQ("\xFF\xFE", bytes.substr(0, 2));
  std::wstring decoded;
  ASSERT_TRUE(decodeTextFile(bytes, &decoded, &error)) << error;
  ASSERT_EQ(text, decoded);

  std::vector<RegFileSection> sections;
  RegFileError parseError;
  ASSERT_TRUE(parseRegFile(decoded, &sections, &parseError)) << parseError.line << ": " << parseError.message;
  ASSERT_EQ(tree.size(), sections.size());
  for (size_t k = 0; k < tree.size(); ++k) {
    EXPECT_EQ(tree[k].path.root, sections[k].key.root);
    EXPECT_EQ(tree[k].path.subKey, sections[k].key.subKey);
    EXPECT_FALSE(sections[k].remove);
    ASSERT_EQ(tree[k].values.size(), sections[k].entries.size());
    for (size_t v = 0; v < tree[k].values.size(); ++v) {
      const RegValue& want = tree[k].values[v];
      const RegValue& got = sections[k].entries[v].value;
      EXPECT_EQ(want.name, got.name);
      EXPECT_EQ(want.type, got.type) << "value " << v;
      EXPECT_EQ(want.data, got.data) << "value " << v;
      EXPECT_FALSE(sections[k].entries[v].remove);
    }
  }
  EXPECT_EQ(3u, sections[0].line);
  EXPECT_EQ(4u, sections[0].entries[0].line);
  EXPECT_EQ(12u, sections[0].entries[6].line);  // after the three lines of Blob
}

TEST(BtutilRegFileTest, ParsesHandWrittenFiles) {
  const std::wstring text =
      L"Windows Registry Editor Version 5.00\n"
      L"; a comment\n"
      L"\n"
      L"[-HKEY_CURRENT_USER\\Software\\Old]\n"
      L"[hkcu\\Software\\New]   \n"
      L"  \"Spaced\" = \"v\"  \n"
      L"\"Gone\"=-\n"
      L"\"Hex\"=HEX:01, 2,\\\n"
      L"\n"
      L"\"Tail\"=hex:0a,\\\n"
      L"    0b\n"
      L"\"Small\"=dword:C\n"
      L"\"\"=\"default by empty name\"\n";
  std::vector<RegFileSection> sections;
  RegFileError error;
  ASSERT_TRUE(parseRegFile(text, &sections, &error)) << error.line << ": " << error.message;
  ASSERT_EQ(2u, sections.size());
  EXPECT_TRUE(sections[0].remove);
  EXPECT_EQ(L"Software\\Old", sections[0].key.subKey);
  EXPECT_EQ(HKEY_CURRENT_USER, sections[1].key.root);
  const auto& entries = sections[1].entries;
  ASSERT_EQ(6u, entries.size());
  EXPECT_EQ(L"Spaced", entries[0].value.name);
  EXPECT_EQ(stringData(L"v"), entries[0].value.data);
  EXPECT_TRUE(entries[1].remove);
  EXPECT_EQ(L"Gone", entries[1].value.name);
  // A continuation onto a blank line ends the list there.
  EXPECT_EQ((std::vector<BYTE>{0x01, 0x02}), entries[2].value.data);
  EXPECT_EQ((std::vector<BYTE>{0x0A, 0x0B}), entries[3].value.data);
  EXPECT_EQ(10u, entries[3].line);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), entries[4].value.type);
  EXPECT_EQ((std::vector<BYTE>{12, 0, 0, 0}), entries[4].value.data);
  EXPECT_EQ(L"", entries[5].value.name);
}

TEST(BtutilRegFileTest, MalformedFilesNameTheLine) {
  const std::wstring header = L"Windows Registry Editor Version 5.00\r\n";
  struct Case {
    std::wstring body;
    size_t line;
    const char* fragment;
  };
  const std::vector<Case> cases = {
      {L"\"a\"=dword:1\r\n", 2, "before the first [KEY]"},
      {L"[HKLM\\A]\r\n\"a\"=dword:123456789\r\n", 3, "1 to 8 hex digits"},
      {L"[HKLM\\A]\r\n\"a\"=dword:xyz\r\n", 3, "1 to 8 hex digits"},
      {L"[HKLM\\A]\r\n\"a\"=hex:01,02,\\\r\n  03,zz\r\n", 4, "Bad hex byte \"zz\""},
      {L"[HKLM\\A]\r\n\"a\"=hex:01,,02\r\n", 3, "Bad hex byte \"\""},
      {L"[HKLM\\A]\r\n\"a\"=hex:123\r\n", 3, "Bad hex byte \"123\""},
      {L"[HKLM\\A]\r\n\"a\"=hex:01,\\", 3, "ends after a continuation"},
      {L"[HKLM\\A]\r\n\"a\"=hex(zz):01\r\n", 3, "hex digits"},
      {L"[HKLM\\A]\r\n\"a\"=hex(:01\r\n", 3, "hex(N):"},
      {L"[HKLM\\A]\r\n\"a=\"x\"\r\n", 3, "not followed by \"=\""},
      {L"[HKLM\\A]\r\n\"a\"=\"unterminated\r\n", 3, "no closing quote"},
      {L"[HKLM\\A]\r\n\"a\"=\"C:\\dir\"\r\n", 3, "Unknown escape"},
      {L"[HKLM\\A]\r\n\"a\"=\"x\" trailing\r\n", 3, "after the closing quote"},
      {L"[HKLM\\A]\r\n\"a\"=word:1\r\n", 3, "Unrecognised value data"},
      {L"[HKLM\\A]\r\nplain text\r\n", 3, "Unrecognised line"},
      {L"\r\n[HKLM\\A\r\n", 3, "closing \"]\""},
      {L"[HKCR\\.txt]\r\n", 2, "not available here"},
      {L"[HKLM\\A\\\\B]\r\n", 2, "empty component"},
      {L"[-HKLM]\r\n", 2, "root key cannot be deleted"},
      {L"[-HKLM\\A]\r\n\"a\"=dword:1\r\n", 3, "follows the key deletion on line 2"},
      // A NUL would cut a name short where the registry reads it.
      {withNul(L"[-HKCU\\@x]\r\n"), 2, "NUL character"},
      {withNul(L"[-HKLM\\Software\\Vendor@Legacy]\r\n"), 2, "NUL character"},
      {withNul(L"[HKLM\\A]\r\n\"Important@.old\"=-\r\n"), 3, "NUL character"},
      {withNul(L"[HKLM\\A]\r\n\"a\"=\"x@y\"\r\n"), 3, "NUL character"},
      // The registry's own limits.
      {L"[HKCU\\" + std::wstring(256, L'k') + L"]\r\n", 2, "longer than 255 characters"},
      {L"[HKCU\\" + std::wstring(255, L'k') + L"\\" + std::wstring(128, L'\U0001F600') + L"]\r\n", 2,
       "longer than 255 characters"},
      {L"[HKLM\\A]\r\n\"" + std::wstring(16384, L'v') + L"\"=\"x\"\r\n", 3, "longer than 16383"},
  };
  for (const auto& c : cases) {
    std::vector<RegFileSection> sections;
    RegFileError error;
    EXPECT_FALSE(parseRegFile(header + c.body, &sections, &error)) << c.fragment;
    EXPECT_EQ(c.line, error.line) << c.fragment << ": " << error.message;
    EXPECT_NE(std::string::npos, error.message.find(c.fragment)) << error.message;
    EXPECT_TRUE(sections.empty());
  }

  std::wstring deep = L"[HKCU";
  for (int level = 0; level < 512; ++level) deep += L"\\d";
  std::vector<RegFileSection> sections;
  RegFileError error;
  EXPECT_TRUE(parseRegFile(header + deep + L"]\r\n", &sections, &error)) << error.message;
  EXPECT_FALSE(parseRegFile(header + deep + L"\\d]\r\n", &sections, &error));
  EXPECT_NE(std::string::npos, error.message.find("513 levels deep")) << error.message;

  EXPECT_FALSE(parseRegFile(L"REGEDIT4\r\n[HKLM\\A]\r\n", &sections, &error));
  EXPECT_EQ(1u, error.line);
  EXPECT_NE(std::string::npos, error.message.find("REGEDIT4"));
  EXPECT_FALSE(parseRegFile(L"", &sections, &error));
  EXPECT_EQ(1u, error.line);
  EXPECT_FALSE(parseRegFile(L"[HKLM\\A]\r\n", &sections, &error));
  EXPECT_NE(std::string::npos, error.message.find("Windows Registry Editor Version 5.00"));
}

TEST(BtutilRegFileTest, FileEncodings) {
  std::wstring text;
  std::string error;
  // UTF-8 with and without its mark.
  ASSERT_TRUE(decodeTextFile("\xEF\xBB\xBFh\xC3\xA9", &text, &error));
  EXPECT_EQ(L"h\u00e9", text);
  ASSERT_TRUE(decodeTextFile("h\xC3\xA9", &text, &error));
  EXPECT_EQ(L"h\u00e9", text);
  // UTF-16 in both byte orders, a character outside the basic plane included.
  ASSERT_TRUE(decodeTextFile(std::string("\xFF\xFEh\0\x3D\xD8\x00\xDE", 8), &text, &error));
  EXPECT_EQ(L"h\U0001F600", text);
  ASSERT_TRUE(decodeTextFile(std::string("\xFE\xFF\0h", 4), &text, &error));
  EXPECT_EQ(L"h", text);

  EXPECT_FALSE(decodeTextFile(std::string("\xFF\xFEh", 3), &text, &error));
  EXPECT_NE(std::string::npos, error.find("UTF-16")) << error;
  EXPECT_FALSE(decodeTextFile(std::string("h\0i\0", 4), &text, &error));
  EXPECT_NE(std::string::npos, error.find("byte order mark")) << error;
  EXPECT_FALSE(decodeTextFile("line one\r\nline \xC3(two\r\n", &text, &error));
  EXPECT_EQ("Line 2: the text is not valid UTF-8.", error);
  // Lone surrogates are refused as invalid UTF-8 is, with their line.
  const std::string loneSurrogates[] = {
      std::string("\xFF\xFEh\0\n\0\x3D\xD8", 8),      // a high one at the end
      std::string("\xFF\xFEh\0\n\0\x3D\xD8h\0", 10),  // a high one before a non-surrogate
      std::string("\xFF\xFEh\0\n\0\x00\xDEh\0", 10),  // a low one alone
      std::string("\xFE\xFF\0h\0\n\xDC\x00", 8),      // UTF-16BE
  };
  for (const std::string& bytes : loneSurrogates) {
    EXPECT_FALSE(decodeTextFile(bytes, &text, &error));
    EXPECT_EQ("Line 2: the text is not valid UTF-16 (a lone surrogate).", error);
  }
}

}  // namespace
}  // namespace utils::btutil
