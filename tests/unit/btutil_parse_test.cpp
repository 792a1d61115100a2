// btutil's parsing of command-line input: numbers, hex data, key paths, types,
// switches and addresses.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "address_input.h"
#include "key_path.h"
#include "numbers.h"
#include "options.h"
#include "reg_value.h"

namespace utils::btutil {
namespace {

TEST(BtutilParseTest, NumbersAreDecimalOrPrefixedHexWithinTheirWidth) {
  EXPECT_EQ(12u, parseUnsigned("12", 0xFFFFFFFF));
  EXPECT_EQ(0x0Cu, parseUnsigned("0x0c", 0xFFFFFFFF));
  EXPECT_EQ(0xFFFFFFFFu, parseUnsigned("0XFFFFFFFF", 0xFFFFFFFF));
  EXPECT_EQ(4294967295u, parseUnsigned("4294967295", 0xFFFFFFFF));
  EXPECT_EQ(~0ull, parseUnsigned("18446744073709551615", ~0ull));
  EXPECT_EQ(~0ull, parseUnsigned("0xffffffffffffffff", ~0ull));
  for (const char* bad : {"", "0x", "-1", "+1", " 1", "1 ", "12a", "0x1g", "4294967296", "0x100000000", "1e3"}) {
    EXPECT_FALSE(parseUnsigned(bad, 0xFFFFFFFF)) << bad;
  }
  EXPECT_FALSE(parseUnsigned("18446744073709551616", ~0ull));
  EXPECT_FALSE(parseUnsigned("0x10000000000000000", ~0ull));
}

TEST(BtutilParseTest, HexBytesArePairsWithoutSeparators) {
  EXPECT_EQ((std::vector<BYTE>{0x0A, 0x0B, 0xFC}), parseHexBytes("0a0bFC"));
  EXPECT_EQ(std::vector<BYTE>{}, parseHexBytes(""));
  EXPECT_FALSE(parseHexBytes("0a0"));
  EXPECT_FALSE(parseHexBytes("0a,0b"));
  EXPECT_FALSE(parseHexBytes("zz"));
  EXPECT_EQ("0A0BFC", hexBytes({0x0A, 0x0B, 0xFC}));
}

TEST(BtutilParseTest, KeyPathsTakeBothRootSpellingsInAnyCase) {
  KeyPath path;
  std::string error;
  ASSERT_TRUE(parseKeyPath(L"HKLM\\Software\\vorlane", &path, &error));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, path.root);
  EXPECT_EQ(L"Software\\vorlane", path.subKey);
  EXPECT_EQ(L"HKEY_LOCAL_MACHINE\\Software\\vorlane", fullPath(path));

  ASSERT_TRUE(parseKeyPath(L"hkey_current_user\\A\\", &path, &error));
  EXPECT_EQ(HKEY_CURRENT_USER, path.root);
  EXPECT_EQ(L"A", path.subKey);
  ASSERT_TRUE(parseKeyPath(L"Hkcu", &path, &error));
  EXPECT_EQ(L"", path.subKey);
  EXPECT_EQ(L"HKEY_CURRENT_USER", fullPath(path));
  ASSERT_TRUE(parseKeyPath(L"HKEY_LOCAL_MACHINE\\", &path, &error));
  EXPECT_EQ(L"", path.subKey);
  EXPECT_EQ(L"HKEY_CURRENT_USER\\A\\B", fullPath(childPath(KeyPath{HKEY_CURRENT_USER, L"A"}, L"B")));

  ASSERT_FALSE(parseKeyPath(L"HKXX\\Software", &path, &error));
  EXPECT_NE(std::string::npos, error.find("unknown root \"HKXX\"")) << error;
  ASSERT_FALSE(parseKeyPath(L"HKCR\\.txt", &path, &error));
  EXPECT_NE(std::string::npos, error.find("not available here")) << error;
  for (const wchar_t* bad : {L"", L"HKLM\\\\", L"HKLM\\a\\\\b", L"\\HKLM\\a", L"Software\\vorlane"}) {
    EXPECT_FALSE(parseKeyPath(bad, &path, &error)) << bad;
  }
}

TEST(BtutilParseTest, TypeNamesAndDisplayedData) {
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), parseTypeName("reg_dword"));
  EXPECT_EQ(static_cast<DWORD>(REG_QWORD), parseTypeName("REG_QWORD"));
  EXPECT_FALSE(parseTypeName("REG_DWORDX"));
  EXPECT_FALSE(parseTypeName("DWORD"));
  EXPECT_EQ("REG_BINARY", typeName(REG_BINARY));
  EXPECT_EQ("0x2A", typeName(42));

  EXPECT_EQ("0xc", displayData({L"", REG_DWORD, {12, 0, 0, 0}}));
  EXPECT_EQ("0x102030405060708", displayData({L"", REG_QWORD, {8, 7, 6, 5, 4, 3, 2, 1}}));
  EXPECT_EQ("0A0B0C", displayData({L"", REG_BINARY, {0x0A, 0x0B, 0x0C}}));
  EXPECT_EQ("0C00", displayData({L"", REG_DWORD, {12, 0}}));  // wrong width: shown as stored
  EXPECT_EQ("hi", displayData({L"", REG_SZ, {'h', 0, 'i', 0, 0, 0}}));
  EXPECT_EQ("hi", displayData({L"", REG_SZ, {'h', 0, 'i', 0}}));  // no terminator
  EXPECT_EQ("a\\0b", displayData({L"", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}}));
  EXPECT_EQ("(Default)", displayName(L""));
}

TEST(BtutilParseTest, SwitchesAreCaseInsensitiveAndPathsStayPositional) {
  static constexpr OptionSpec kSpecs[] = {{"v", true}, {"ve", false}, {"f", false}};
  ParsedArgs parsed;
  std::string error;
  const std::vector<std::string> args{"HKLM\\x", "/V", "Name", "-f", "/tmp/file.reg"};
  ASSERT_TRUE(parseArgs(args, kSpecs, &parsed, &error)) << error;
  EXPECT_EQ((std::vector<std::string>{"HKLM\\x", "/tmp/file.reg"}), parsed.positional);
  EXPECT_EQ("Name", parsed.value("v"));
  EXPECT_TRUE(parsed.has("f"));
  EXPECT_FALSE(parsed.has("ve"));
  EXPECT_FALSE(parsed.help);

  // A value is taken as it stands, even when it looks like a switch.
  ParsedArgs withSlash;
  ASSERT_TRUE(parseArgs(std::vector<std::string>{"/v", "/f"}, kSpecs, &withSlash, &error));
  EXPECT_EQ("/f", withSlash.value("v"));
  EXPECT_FALSE(withSlash.has("f"));

  ParsedArgs help;
  ASSERT_TRUE(parseArgs(std::vector<std::string>{"/?"}, kSpecs, &help, &error));
  EXPECT_TRUE(help.help);

  ParsedArgs bad;
  EXPECT_FALSE(parseArgs(std::vector<std::string>{"-x"}, kSpecs, &bad, &error));
  EXPECT_EQ("Unknown option -x.", error);
  // An unknown "/" word is a path on Linux, left to the command to judge.
  ParsedArgs path;
  ASSERT_TRUE(parseArgs(std::vector<std::string>{"/tmp", "--F"}, kSpecs, &path, &error));
  EXPECT_EQ(std::vector<std::string>{"/tmp"}, path.positional);
  EXPECT_TRUE(path.has("f"));
  ParsedArgs twice;
  EXPECT_FALSE(parseArgs(std::vector<std::string>{"/f", "/F"}, kSpecs, &twice, &error));
  ParsedArgs missing;
  EXPECT_FALSE(parseArgs(std::vector<std::string>{"/v"}, kSpecs, &missing, &error));
  EXPECT_EQ("The option /v needs a value.", error);
}

TEST(BtutilParseTest, AddressesInEveryForm) {
  const std::array<BYTE, 6> expected{0x00, 0x1A, 0x7D, 0xDA, 0x71, 0x13};
  std::string error;
  for (const char* text :
       {"00:1a:7d:da:71:13", "00-1A-7D-DA-71-13", "001a7dda7113", "0:1a:7d:da:71:13", "0x1A7DDA7113"}) {
    AddressInput address;
    ASSERT_TRUE(parseAddress(text, &address, &error)) << text << ": " << error;
    EXPECT_EQ(expected, address.bd) << text;
    EXPECT_EQ(0x1A7DDA7113ull, address.bt) << text;
  }
  AddressInput address;
  ASSERT_TRUE(parseAddress("0x1A7DDA7113", &address, &error));
  EXPECT_EQ("00:1a:7d:da:71:13", addressText(address.bt));
  EXPECT_EQ("0x001A7DDA7113", btValueText(address.bt));
  EXPECT_EQ("00 1A 7D DA 71 13", bdBytesText(address.bd));
  ASSERT_TRUE(parseAddress("4660", &address, &error));
  EXPECT_EQ(0x1234u, address.bt);
  EXPECT_EQ("00:00:00:00:12:34", addressText(address.bt));

  EXPECT_FALSE(parseAddress("001122334455", &address, &error));  // twelve decimal digits: which form?
  EXPECT_NE(std::string::npos, error.find("ambiguous")) << error;
  EXPECT_FALSE(parseAddress("0x1000000000000", &address, &error));
  EXPECT_NE(std::string::npos, error.find("48 bits")) << error;
  for (const char* bad : {"", "00:1a:7d:da:71", "00:1a:7d:da:71:13:14", "00:1a-7d:da:71:13", "00:1a:7d:da:71:1g",
                          "000:1a:7d:da:71:13", "00::7d:da:71:13", "zz", "0x", "1a7dda7113x"}) {
    EXPECT_FALSE(parseAddress(bad, &address, &error)) << bad;
  }
}

}  // namespace
}  // namespace utils::btutil
