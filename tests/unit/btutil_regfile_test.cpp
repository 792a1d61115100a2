// The registry file text: formatting as regedit writes it, parsing what regedit
// and hand-written files hold, and the faults a malformed file is refused for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/utf16.h"
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

TEST(BtutilRegFileTest, FormatsAsRegeditWritesItAndParsesBack) {
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

  // Parsing gives back what was formatted, through the file bytes too: UTF-16LE
  // with its byte order mark.
  const std::string bytes = encodeUtf16LeWithBom(text);
  ASSERT_EQ("\xFF\xFE", bytes.substr(0, 2));
  std::wstring decoded;
  bool utf16 = false;
  ASSERT_TRUE(decodeRegFileText(bytes, &decoded, &utf16, &error)) << error;
  ASSERT_EQ(text, decoded);
  std::vector<RegFileSection> sections;
  RegFileError parseError;
  ASSERT_TRUE(parseRegFile(decoded, &sections, &parseError)) << parseError.line << ": " << parseError.message;
  // Formatted again, the parsed tree gives the same text: every key, name, type and byte came back.
  std::vector<KeySnapshot> parsed;
  for (const RegFileSection& section : sections) {
    EXPECT_FALSE(section.remove);
    parsed.push_back({section.key, {}});
    for (const auto& entry : section.entries) {
      EXPECT_FALSE(entry.remove);
      parsed.back().values.push_back(entry.value);
    }
  }
  std::wstring again;
  ASSERT_TRUE(formatRegFile(parsed, &again, &error)) << error;
  EXPECT_EQ(text, again);
  EXPECT_EQ(3u, sections[0].line);
  EXPECT_EQ(4u, sections[0].entries[0].line);
  EXPECT_EQ(12u, sections[0].entries[6].line);  // after the three lines of Blob

  // A line break in a name cannot be written: refused, naming it.
  std::vector<KeySnapshot> broken{{KeyPath{HKEY_CURRENT_USER, L"A"}, {dword(L"two\nlines", 1)}}};
  EXPECT_FALSE(formatRegFile(broken, &text, &error));
  EXPECT_NE(std::string::npos, error.find("line break")) << error;
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
      {L"[HKLM\\A]\r\n\"a\"=hex:01,02,\\\r\n  03,zz\r\n", 4, "Bad hex data at \"zz\""},
      {L"[HKLM\\A]\r\n\"a\"=hex:01,,02\r\n", 3, "Bad hex data"},
      {L"[HKLM\\A]\r\n\"a\"=hex:123\r\n", 3, "Bad hex data"},
      {L"[HKLM\\A]\r\n\"a\"=hex(zz):01\r\n", 3, "hex digits"},
      {L"[HKLM\\A]\r\n\"a\"=hex(:01\r\n", 3, "hex(N):"},
      {L"[HKLM\\A]\r\n\"a=\"x\"\r\n", 3, "not followed by \"=\""},
      {L"[HKLM\\A]\r\n\"a\"=\"unterminated\r\n", 3, "no closing quote"},
      {L"[HKLM\\A]\r\n\"a\"=\"C:\\dir\"\r\n", 3, "Unknown escape"},
      {L"[HKLM\\A]\r\n\"a\"=\"x\" trailing\r\n", 3, "may follow the closing quote"},
      {L"[HKLM\\A]\r\n\"a\"=word:1\r\n", 3, "Unrecognised value data"},
      {L"[HKLM\\A]\r\nplain text\r\n", 3, "Not a [KEY] line"},
      {L"\r\n[HKLM\\A\r\n", 3, "closing \"]\""},
      {L"[HKCR\\.txt]\r\n", 2, "not available here"},
      {L"[HKLM\\A\\\\B]\r\n", 2, "empty component"},
      {L"[-HKLM]\r\n", 2, "root key cannot be deleted"},
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

  EXPECT_TRUE(parseRegFile(L"REGEDIT4\r\n[HKLM\\A]\r\n", &sections, &error)) << error.message;
  EXPECT_EQ(1u, sections.size());
  EXPECT_FALSE(parseRegFile(L"", &sections, &error));
  EXPECT_EQ(1u, error.line);
  EXPECT_FALSE(parseRegFile(L"[HKLM\\A]\r\n", &sections, &error));
  EXPECT_NE(std::string::npos, error.message.find("Windows Registry Editor Version 5.00"));
}

TEST(BtutilRegFileTest, FileEncodings) {
  struct Row {
    std::string bytes;
    const char* text;    // what it reads as, or null when it is refused
    const char* answer;  // the error then
  };
  const Row rows[] = {
      {"h\xC3\xA9", "h\u00e9", ""},                                        // UTF-8 without a mark
      {"h\xE9\x80", "h\u00e9\u20ac", ""},                                  // not UTF-8: Windows-1252
      {std::string("\xFF\xFEh\0\x3D\xD8\x00\xDE", 8), "h\U0001F600", ""},  // UTF-16LE, beyond the basic plane
      // reg.exe reads other marks as characters before the header.
      {"\xEF\xBB\xBFh", nullptr, "a UTF-8 byte order mark"},
      {std::string("\xFE\xFF\0h", 4), nullptr, "a UTF-16 big-endian byte order mark"},
      {std::string("\xFF\xFEh", 3), nullptr, "ends in the middle of a character"},
      {std::string("h\0i\0", 4), nullptr, "UTF-16 text needs its byte order mark"},
      // Lone surrogates, with their line.
      {std::string("\xFF\xFEh\0\n\0\x3D\xD8", 8), nullptr, "Line 2: the text is not valid UTF-16 (a lone surrogate)."},
      {std::string("\xFF\xFEh\0\n\0\x3D\xD8h\0", 10), nullptr, "Line 2: the text is not valid UTF-16"},
      {std::string("\xFF\xFEh\0\n\0\x00\xDEh\0", 10), nullptr, "Line 2: the text is not valid UTF-16"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.bytes));
    std::wstring text;
    std::string error;
    bool utf16 = false;
    const bool read = decodeRegFileText(row.bytes, &text, &utf16, &error);
    EXPECT_EQ(row.text != nullptr, read) << error;
    if (row.text != nullptr) {
      EXPECT_EQ(utf8ToWide(row.text), text);
      EXPECT_EQ(row.bytes.starts_with("\xFF\xFE"), utf16);
    } else {
      EXPECT_NE(std::string::npos, error.find(row.answer)) << error;
    }
  }
}

using namespace std::string_view_literals;

// A REGEDIT4 file (or 5.00 with unicode) with one key, [HKEY_CURRENT_USER\T],
// and then body.
RegFileContent readBody(const std::wstring& body, bool unicode = false) {
  const std::wstring header = unicode ? L"Windows Registry Editor Version 5.00" : L"REGEDIT4";
  RegFileContent content;
  RegFileError error;
  EXPECT_TRUE(readRegFile(header + L"\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n" + body, unicode, &content, &error))
      << error.message;
  return content;
}

std::vector<BYTE> utf16Bytes(std::u16string_view text) {
  std::vector<BYTE> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<BYTE>(unit >> 8));
  }
  return bytes;
}

// Lines reg.exe reads, and what it stores for the one value "V" (or the
// default value) they hold. Comments after data, a space after "dword:" and
// hex(0) are also compared with Wine's reg by tests/wine/reg_differential_test.py.
TEST(BtutilRegFileTest, ReadsWhatRegExeReads) {
  struct Case {
    std::wstring body;
    DWORD type;
    std::vector<BYTE> data;
    bool unicode = false;
    std::wstring name = L"V";
  };
  const std::vector<Case> cases = {
      {L"  \"V\" = \"x\"  \n", REG_SZ, {'x', 0, 0, 0}, true},  // spaces around the name and the "="
      {L"; comment\r\n  # comment\r\n\"V\"=\"x\"\r\n", REG_SZ, {'x', 0, 0, 0}},
      {L"\"V\"=\"\\n\\r\\\\\\\"\"\r\n", REG_SZ, utf16Bytes(u"\n\r\\\"\0"sv)},
      {L"\"V\"=\"x\"\t\t;comment", REG_SZ, {'x', 0, 0, 0}},
      {L"@=\"d\"\r\n", REG_SZ, {'d', 0, 0, 0}, false, L""},
      {L"\"\"=\"d\"\r\n", REG_SZ, {'d', 0, 0, 0}, true, L""},  // the default value by its empty name
      {L"\"V\"=dword:1234;5678\r\n", REG_DWORD, {0x34, 0x12, 0, 0}},
      {L"\"V\"=dword:C\n", REG_DWORD, {12, 0, 0, 0}, true},
      {L"\"V\"=hex:11,22,\\\r\n  33\r\n", REG_BINARY, {0x11, 0x22, 0x33}},
      {L"\"V\"=hex:01, 2,\\\n\n    03\n", REG_BINARY, {0x01, 0x02, 0x03}, true},
      {L"\"V\"=hex:11,\\;comment\r\n  22\r\n", REG_BINARY, {0x11, 0x22}},
      {L"\"V\"=hex:11,  \\  ;comment\r\n  22\r\n", REG_BINARY, {0x11, 0x22}},
      {L"\"V\"=hex:11,\\\r\n;comment\r\n  22\r\n", REG_BINARY, {0x11, 0x22}},
      {L"\"V\"=hex:11,\\\r\n\r\n   \r\n\t\r\n  22\r\n", REG_BINARY, {0x11, 0x22}},
      {L"\"V\"=hex:11,22,\r\n", REG_BINARY, {0x11, 0x22}},
      {L"\"V\"=hex:11,22,;comment\r\n", REG_BINARY, {0x11, 0x22}},
      {L"\"V\"=hex:\\\r\n  11\r\n", REG_BINARY, {0x11}},
      {L"\"V\"=hex:11,\\", REG_BINARY, {0x11}},  // a "\" as the file's last character
      {L"\"V\"=hex(ffffffff):01\r\n", 0xFFFFFFFF, {0x01}},
      // ANSI string data become UTF-16, with the final NUL reg.exe adds.
      {L"\"V\"=hex(2):25,41,25\r\n", REG_EXPAND_SZ, utf16Bytes(u"%A%\0"sv)},
      {L"\"V\"=hex(7):61,00,62,00,00\r\n", REG_MULTI_SZ, utf16Bytes(u"a\0b\0\0"sv)},
      {L"\"V\"=hex(7):61,00,62\r\n", REG_MULTI_SZ, utf16Bytes(u"a\0b\0"sv)},
      {L"\"V\"=hex(2):e9\r\n", REG_EXPAND_SZ, utf16Bytes(u"\u00e9\0"sv)},     // Windows-1252
      {L"\"V\"=hex(2):c3,a9\r\n", REG_EXPAND_SZ, utf16Bytes(u"\u00e9\0"sv)},  // UTF-8
      {L"\"V\"=hex(1):41,00\r\n", REG_SZ, utf16Bytes(u"A\0"sv)},
      // A 5.00 file's string data are UTF-16 already; hex(1) stays as written.
      {L"\"V\"=hex(2):41,00,42,00\r\n", REG_EXPAND_SZ, utf16Bytes(u"AB\0"sv), true},
      {L"\"V\"=hex(7):41,00\r\n", REG_MULTI_SZ, utf16Bytes(u"A\0"sv), true},
      {L"\"V\"=hex(1):41,00\r\n", REG_SZ, {0x41, 0x00}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.body.begin(), c.body.end()));
    const RegFileContent content = readBody(c.body, c.unicode);
    ASSERT_TRUE(content.skipped.empty()) << content.skipped.front().line << ": " << content.skipped.front().message;
    ASSERT_EQ(content.sections.size(), 1u);
    ASSERT_EQ(content.sections[0].entries.size(), 1u);
    EXPECT_EQ(content.sections[0].entries[0].value.name, c.name);
    EXPECT_EQ(content.sections[0].entries[0].value.type, c.type);
    EXPECT_EQ(content.sections[0].entries[0].value.data, c.data);
  }
}

// Lines reg.exe skips: every one is listed with its number.
TEST(BtutilRegFileTest, ListsEveryLineRegExeSkips) {
  struct Case {
    std::wstring body;  // starts on line 4
    std::vector<size_t> lines;
  };
  const std::vector<Case> cases = {
      {L"\"V\"=\"x\" #comment\r\n", {4}},
      {L"\"V\"=\"x\"y\"\r\n", {4}},
      {L"\"V\"=dword:1234 #comment\r\n", {4}},
      {L"\"V\"=dword:123456789\r\n\"W\"=dword:\r\n\"X\"=dword:0x12\r\n", {4, 5, 6}},
      {L"\"V\"=-\"x\"\r\n", {4}},
      {L"\"V\"=hex:11,22\\\r\n  33\r\n", {4, 5}},      // no comma before "\"
      {L"\"V\"=hex:11,\\\r\n,22\r\n", {5}},            // a continuation that starts with a comma
      {L"\"V\"=hex:11,\\\r\n\\\r\n  22\r\n", {5, 6}},  // a lone "\" line
      {L"\"V\"=hex:11,\\#comment\r\n  22\r\n", {4, 5}},
      {L"\"V\"=hex:11,\\\r\n\"W\"=\"x\"\r\n", {5}},  // the next value is taken as hex data
      {L"\"V\"=hex:11,\\\r\n#comment\r\n\"W\"=\"x\"\r\n", {5}},
      {L"\"V\"=hex:100\r\n\"W\"=hex:,11\r\n", {4, 5}},
      {L"\"V\"=hex(100000000):01\r\n\"W\"=hex(0x2):01\r\n", {4, 5}},
      {L"[ HKEY_CURRENT_USER\\T\\A]\r\n\"V\"=dword:1\r\n", {4, 5}},
      {L"[HKEY_CURRENT_USERS\\T\\A]\r\n\"V\"=dword:1\r\n", {4, 5}},
      {L"[HKEY_CURRENT_USER\\T\\A\r\n", {4}},
      {L"plain text\r\n  65,6e\r\n", {4, 5}},
      {L"\"Wine\\\r\n42a\"=\"Value 1\"\r\n", {4, 5}},
      {L"\"V\"=\"a\\0b\"\r\n\"W\"=\"C:\\Temp\"\r\n\"X\\q\"=\"x\"\r\n", {4, 5, 6}},  // \0 and unknown escapes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.body.begin(), c.body.end()));
    const RegFileContent content = readBody(c.body);
    std::vector<size_t> lines;
    for (const auto& skipped : content.skipped) {
      lines.push_back(skipped.line);
      EXPECT_FALSE(skipped.message.empty());
    }
    EXPECT_EQ(lines, c.lines);
  }
}

// How reg.exe takes a file's first line. "REGEDIT3", "REGEDIT 4" and "REGEDIT4
// FOO" (ignored like "REGEDIT4FOO") are compared with Wine's reg by
// tests/wine/reg_differential_test.py.
TEST(BtutilRegFileTest, HeadersAsRegExeTakesThem) {
  struct Case {
    std::wstring header;
    bool accepted;
    RegFileHeader kind;
  };
  const std::vector<Case> cases = {
      {L"Windows Registry Editor Version 5.00", true, RegFileHeader::Unicode},
      {L"REGEDIT4", true, RegFileHeader::Ansi},
      {L" REGEDIT4", true, RegFileHeader::Ansi},
      {L"REGEDIT", true, RegFileHeader::Win31},
      {L"REGEDIT4FOO", true, RegFileHeader::Ignored},
      {L"regedit4", false, RegFileHeader::Unicode},
      {L"\r\nREGEDIT4", false, RegFileHeader::Unicode},
      {L"AREGEDIT4", false, RegFileHeader::Unicode},
      {L"Windows Registry Editor Version 4.00", false, RegFileHeader::Unicode},
      {L"WINDOWS REGISTRY EDITOR VERSION 5.00", false, RegFileHeader::Unicode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.header.begin(), c.header.end()));
    RegFileContent content;
    RegFileError error;
    const bool read =
        readRegFile(c.header + L"\r\n\r\n[HKEY_CURRENT_USER\\T]\r\n\"V\"=\"x\"\r\n", false, &content, &error);
    EXPECT_EQ(read, c.accepted);
    if (!read) {
      EXPECT_EQ(error.line, 1u);
      continue;
    }
    EXPECT_EQ(content.header, c.kind);
    const bool readsValues = c.kind == RegFileHeader::Unicode || c.kind == RegFileHeader::Ansi;
    EXPECT_EQ(content.sections.size(), readsValues ? 1u : 0u);
  }
  // A Windows 3.1 file: reg.exe sets HKEY_CLASSES_ROOT from lines that start
  // with its name, spelt exactly so, and ignores every other line.
  RegFileContent win31;
  RegFileError win31Error;
  ASSERT_TRUE(
      readRegFile(L"REGEDIT\r\nHKEY_CLASSES_ROOT\\.x = y\r\nhkey_classes_root\\.z = y\r\n  "
                  L"HKEY_CLASSES_ROOT\\.w = y\r\nother\r\n",
                  false, &win31, &win31Error));
  ASSERT_EQ(win31.skipped.size(), 1u);
  EXPECT_EQ(win31.skipped[0].line, 2u);
  // Values after a key deletion are ignored, as reg.exe ignores them.
  const RegFileContent content = readBody(L"[-HKEY_CURRENT_USER\\T\\Old]\r\n\"V\"=dword:1\r\n");
  EXPECT_TRUE(content.skipped.empty());
  ASSERT_EQ(content.ignored.size(), 1u);
  EXPECT_EQ(content.ignored[0].line, 5u);
  // A key line with trailing backslashes names the key without them.
  const RegFileContent trailing = readBody(L"[hkcu\\T\\A\\\\]  \r\n");
  ASSERT_EQ(trailing.sections.size(), 2u);
  EXPECT_EQ(trailing.sections[1].key.subKey, L"T\\A");
}

}  // namespace
}  // namespace utils::btutil
