// btutil's commands end to end on the simulated platform: what they print,
// what they change, their exit codes, and that a refused command changes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "btutil_runner.h"
#include "common/utf16.h"
#include "numbers.h"
#include "reg_value.h"
#include "registry_reader.h"
#include "sim_fixture.h"
#include "text_codec.h"

namespace utils::btutil {
namespace {

using Json = nlohmann::json;
using sim::SimRegistry;

class BtutilCommandTest : public test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    dir_ = std::filesystem::temp_directory_path() /
           ("btutil_unit_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    EXPECT_EQ(0u, sim_.registry.openHandles()) << "a command left a key open";
    std::filesystem::remove_all(dir_);
    SimTest::TearDown();
  }

  static test::BtutilRun run(const std::vector<std::string>& args) { return test::runBtutil(args); }

  // Every key and value below a root, as text, to compare states.
  std::string dump(HKEY root) {
    std::vector<KeySnapshot> keys;
    KeyPath failed;
    EXPECT_EQ(0u, snapshotTree(sim_.registry, KeyPath{root, L""}, &keys, &failed));
    std::string text;
    for (const auto& key : keys) {
      text += wideToUtf8(fullPath(key.path)) + "\n";
      for (const auto& v : key.values)
        text += "  " + displayName(v.name) + " " + typeName(v.type) + " " + hexBytes(v.data) + "\n";
    }
    return text;
  }

  void put(const wchar_t* path, const wchar_t* name, DWORD type, std::vector<BYTE> data) {
    HKEY key = nullptr;
    ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, path, KEY_WRITE, &key, nullptr));
    ASSERT_EQ(0u, sim_.registry.setValue(key, name, type, data.data(), static_cast<DWORD>(data.size())));
    sim_.registry.closeKey(key);
  }
  std::string file(const std::string& name) const { return (dir_ / name).string(); }
  void writeFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
  std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
};

// What reg add stores, as reg.exe stores it: each row runs on a fresh HKCU\T
// and gives the exit code and the one value stored there ("" when refused).
// What Wine's reg stores alike (plain types, REG_NONE, odd hex digits, "\0"
// lists) is compared with it by tests/wine/reg_differential_test.py.
TEST_F(BtutilCommandTest, AddStoresWhatRegExeStores) {
  struct Row {
    std::vector<std::string> args;  // after "reg add HKCU\T"
    int code;
    std::string value;  // name, type and data as dump() shows them
    std::string key = "HKCU\\T";
  };
  const std::vector<Row> rows = {
      {{"/d", "x"}, kExitOk, "(Default) REG_SZ 78000000"},
      {{}, kExitNo, "", "HKCU\\"},  // a path that ends at the root
      {{}, kExitNo, "", "HKCU\\T\\"},
      {{"/v", "N", "/t", "REG_DWORD"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_DWORD", "/d", ""}, kExitOk, "N REG_DWORD 00000000"},
      {{"/v", "N", "/t", "REG_DWORD", "/d", "010"}, kExitOk, "N REG_DWORD 0A000000"},
      {{"/v", "N", "/t", "REG_DWORD", "/d", "-1"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_QWORD"}, kExitOk, "N REG_QWORD 0000000000000000"},
      {{"/v", "N", "/t", "REG_QWORD", "/d", "-2"}, kExitOk, "N REG_QWORD FEFFFFFFFFFFFFFF"},
      {{"/v", "N", "/t", "REG_QWORD", "/d", "-0x1"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_QWORD", "/d", "-"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_QWORD", "/d", "0x0102030405060708"}, kExitOk, "N REG_QWORD 0807060504030201"},
      {{"/v", "N", "/d", "h\xC3\xA9"}, kExitOk, "N REG_SZ 6800E9000000"},  // UTF-8 text becomes UTF-16
      {{"/v", "N", "/t", "REG_BINARY", "/d", "a"}, kExitOk, "N REG_BINARY 0A"},
      {{"/v", "N", "/t", "REG_BINARY", "/d", "0g"}, kExitNo, ""},
      {{"/v", "N", "/t", "reg_dword_little_endian", "/d", "7"}, kExitOk, "N REG_DWORD 07000000"},
      {{"/v", "N", "/t", "REG_DWORD_BIG_ENDIAN", "/d", "258"}, kExitOk, "N 0x5 02010000"},
      {{"/v", "N", "/t", "REG_MULTI_SZ"}, kExitOk, "N REG_MULTI_SZ 0000"},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#"}, kExitOk, "N REG_MULTI_SZ 610000000000"},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "#"}, kExitOk, "N REG_MULTI_SZ 00000000"},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a\\0"}, kExitOk, "N REG_MULTI_SZ 61005C00300000000000"},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/d", "a\\\\0b"}, kExitOk, "N REG_MULTI_SZ 61005C000000620000000000"},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "\u00e9", "/d", "a\u00e9b"},
       kExitOk,
       "N REG_MULTI_SZ 6100000062000000"
       "0000"},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a##b"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "#a"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "##", "/d", "a##b"}, kExitNo, ""},
      {{"/v", "N", "/t", "REG_MULTI_SZ", "/s", "", "/d", "a"}, kExitNo, ""},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args{"reg", "add", row.key};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const test::BtutilRun r = run(args);
    SCOPED_TRACE(row.key + " " + ::testing::PrintToString(row.args) + ": " + r.err);
    EXPECT_EQ(r.code, row.code);
    EXPECT_EQ(dump(HKEY_CURRENT_USER), row.value.empty()
                                           ? "HKEY_CURRENT_USER\n"
                                           : "HKEY_CURRENT_USER\nHKEY_CURRENT_USER\\T\n  " + row.value + "\n");
    if (row.code != 0) {
      EXPECT_TRUE(r.err.starts_with("ERROR: ")) << r.err;
    }
    run({"reg", "delete", "HKCU\\T", "/f"});
  }
}

// reg add, query and delete in turn, each answer byte for byte as reg prints it:
// a blank line, then per key its path, values and a blank line; a key without
// values shows just its subkeys; an unset default value answers "(value not
// set)"; a search that finds nothing is still a successful search.
TEST_F(BtutilCommandTest, AddQueryAndDeleteAnswerAsRegDoes) {
  HKEY raw = nullptr;  // reg keeps a REG_DWORD_BIG_ENDIAN little-endian and shows it so
  ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, L"B", KEY_WRITE, &raw, nullptr));
  const BYTE bigEndian[] = {0, 0, 1, 2};
  EXPECT_EQ(0u, sim_.registry.setValue(raw, L"X", REG_DWORD_BIG_ENDIAN, bigEndian, 4));
  sim_.registry.closeKey(raw);
  struct Step {
    std::vector<std::string> args;  // after "reg"
    int code;
    std::string out;
    std::string err = {};  // the whole error text when given
  };
  const std::string done = "The operation completed successfully.\n", key = "HKLM\\Software\\vorlane";
  const std::string lm = "HKEY_LOCAL_MACHINE\\Software\\vorlane", t = "HKEY_CURRENT_USER\\T",
                    o = "HKEY_CURRENT_USER\\O";
  const std::vector<Step> steps = {
      {{"add", key, "/v", "LogDebug", "/t", "REG_DWORD", "/d", "12", "/f"}, 0, done},
      {{"add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", "0a0b0c"}, 0, done},
      {{"add", key, "/v", "Big", "/t", "reg_qword", "/d", "0x100000000"}, 0, done},
      {{"add", key, "/ve", "/d", "default text"}, 0, done},
      {{"add", key + "\\Child"}, 0, done},  // a key with only the empty default value
      // The simulation lists values by their folded names; the default value leads.
      {{"query", "hkey_local_machine\\SOFTWARE\\VORLANE"},
       0,
       "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\VORLANE\n    (Default)    REG_SZ    default text\n"
       "    Big    REG_QWORD    0x100000000\n    Blob    REG_BINARY    0A0B0C\n    LogDebug    REG_DWORD    0xc\n\n"
       "HKEY_LOCAL_MACHINE\\SOFTWARE\\VORLANE\\Child\n"},
      {{"query", key, "/v", "logdebug"}, 0, "\n" + lm + "\n    logdebug    REG_DWORD    0xc\n\n"},
      {{"query", key, "/ve"}, 0, "\n" + lm + "\n    (Default)    REG_SZ    default text\n\n"},
      {{"add", key, "/v", "LogDebug", "/t", "REG_DWORD", "/d", "0x3", "/F"}, 0, done},  // replaced with /f
      {{"query", key, "/v", "LogDebug"}, 0, "\n" + lm + "\n    LogDebug    REG_DWORD    0x3\n\n"},
      {{"delete", key, "/v", "Blob", "/f"}, 0, done},
      {{"query", key, "/v", "Blob"}, kExitNo, "", "ERROR: The value Blob was not found under " + lm + ".\n"},
      {{"delete", key, "/v", "Blob", "/f"}, kExitNo, ""},
      {{"delete", key, "/ve", "/f"}, 0, done},
      {{"delete", key, "/va", "/f"}, 0, done},
      {{"query", key}, 0, "\n" + lm + "\\Child\n"},
      {{"delete", key, "/f"}, 0, done},
      {{"query", key},
       kExitNo,
       "",
       "ERROR: Cannot open " + lm + ": The system was unable to find the specified registry key or value. (error 2)\n"},
      {{"add", "HKCU\\T", "/v", "A", "/d", "top"}, 0, done},
      {{"add", "HKCU\\T\\S1", "/v", "A", "/t", "REG_MULTI_SZ", "/d", "x\\0y"}, 0, done},
      {{"add", "HKCU\\T\\S1\\Deep", "/v", "B", "/t", "REG_EXPAND_SZ", "/d", "%HOME%"}, 0, done},
      {{"add", "HKCU\\T\\S2", "/ve", "/d", "d"}, 0, done},
      {{"add", "HKCU\\O\\K1"}, 0, done},
      {{"delete", "HKCU\\O\\K1", "/ve", "/f"}, 0, done},
      {{"add", "HKCU\\O\\K2\\K3"}, 0, done},
      {{"delete", "HKCU\\O\\K2\\K3", "/ve", "/f"}, 0, done},
      {{"query", "HKCU\\T"}, 0, "\n" + t + "\n    A    REG_SZ    top\n\n" + t + "\\S1\n" + t + "\\S2\n"},
      {{"query", "HKCU\\O"}, 0, "\n" + o + "\\K1\n" + o + "\\K2\n"},
      {{"query", "HKCU\\O\\K1"}, 0, "\n"},
      {{"query", "HKCU\\B"}, 0, "\nHKEY_CURRENT_USER\\B\n    X    REG_DWORD_BIG_ENDIAN    0x2010000\n\n"},
      {{"query", "HKCU\\T", "/s"},
       0,
       "\n" + t + "\n    A    REG_SZ    top\n\n" + t + "\\S1\n    A    REG_MULTI_SZ    x\\0y\n\n" + t +
           "\\S1\\Deep\n    B    REG_EXPAND_SZ    %HOME%\n\n" + t + "\\S2\n    (Default)    REG_SZ    d\n\n"},
      {{"query", "HKCU\\O\\", "/s"}, 0, "\n" + o + "\\K1\n\n" + o + "\\K2\n\n" + o + "\\K2\\K3\n\n"},
      {{"query", "HKCU\\T", "/ve"}, 0, "\n" + t + "\n    (Default)    REG_SZ    (value not set)\n"},
      {{"query", "HKCU\\T", "/v", "a", "/s"},
       0,
       "\n" + t + "\n    a    REG_SZ    top\n\n" + t + "\\S1\n    a    REG_MULTI_SZ    x\\0y\n\n" +
           "End of search: 2 match(es) found.\n"},
      {{"query", "HKCU\\T", "/ve", "/s"},
       0,
       "\n" + t + "\\S2\n    (Default)    REG_SZ    d\n\nEnd of search: 1 match(es) found.\n"},
      {{"query", "HKCU\\T", "/v", "Missing", "/s"}, 0, "\nEnd of search: 0 match(es) found.\n"},
      {{"query", "HKCU\\T", "/s", "/s"}, kExitNo, ""},
  };
  for (const Step& step : steps) {
    std::vector<std::string> args{"reg"};
    args.insert(args.end(), step.args.begin(), step.args.end());
    const auto r = run(args);
    SCOPED_TRACE(::testing::PrintToString(args) + ": " + r.err);
    EXPECT_EQ(step.code, r.code);
    EXPECT_EQ(step.out, r.out);
    EXPECT_TRUE(step.code == 0 || r.err.starts_with("ERROR: "));
    if (!step.err.empty()) {
      EXPECT_EQ(step.err, r.err);
    }
  }
  EXPECT_EQ("HKEY_LOCAL_MACHINE\nHKEY_LOCAL_MACHINE\\Software\n", dump(HKEY_LOCAL_MACHINE));
}

TEST_F(BtutilCommandTest, BadInputIsRefusedAndChangesNothing) {
  ASSERT_EQ(0, run({"reg", "add", "HKLM\\Software\\vorlane", "/v", "Keep", "/t", "REG_DWORD", "/d", "1"}).code);
  const std::string before = dump(HKEY_LOCAL_MACHINE) + dump(HKEY_CURRENT_USER);
  const int setsBefore = sim_.registry.calls(SimRegistry::Op::Set);
  struct Case {
    std::vector<std::string> args;
    const char* fragment;
  };
  const std::vector<Case> cases = {
      {{"frobnicate"}, "Unknown command \"frobnicate\""},
      {{"reg"}, "needs an operation"},
      {{"reg", "rename", "HKLM\\A"}, "Unknown reg operation \"rename\""},
      {{"reg", "add"}, "needs 1 argument, 0 given"},
      {{"reg", "add", "HKXX\\Software\\New", "/v", "A"}, "unknown root \"HKXX\""},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "/t", "REG_DWORDX", "/d", "1"}, "Invalid type \"REG_DWORDX\""},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "/t", "REG_DWORD", "/d", "12x"}, "Invalid data \"12x\""},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "/t", "REG_DWORD", "/d", "4294967296"}, "at most 0xFFFFFFFF"},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "/t", "REG_BINARY", "/d", "0g"},
       "hex digits without separators"},
      {{"reg", "add", "HKLM\\Software\\New", "/v"}, "The option /v needs a value."},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "/ve"}, "not both"},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "/s", ","}, "separator"},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "/x"}, "Unknown option or unexpected argument \"/x\"."},
      {{"reg", "add", "HKLM\\Software\\New", "/v", "A", "-x"}, "Unknown option -x."},
      {{"reg", "add", "HKLM\\Software\\New", "extra"}, "\"extra\" is not expected"},
      {{"reg", "add", "HKLM\\Software\\vorlane", "/v", "Keep", "/t", "REG_DWORD", "/d", "2"}, "already exists"},
      {{"reg", "delete", "HKLM\\Software\\vorlane"}, "add /f"},
      {{"reg", "delete", "HKLM\\Software\\vorlane", "/v", "Keep"}, "add /f"},
      {{"reg", "delete", "HKLM", "/f"}, "root key cannot be deleted"},
      {{"reg", "delete", "HKLM\\Software\\vorlane", "/v", "Keep", "/va", "/f"}, "only one of"},
      {{"reg", "query", "HKLM\\Software\\\\vorlane"}, "empty component"},
      {{"reg", "export", "HKLM\\Software\\vorlane"}, "needs 2 arguments, 1 given"},
      {{"reg", "import"}, "needs 1 argument"},
      {{"addr"}, "needs 1 argument"},
      {{"addr", "00:11:22:33:44"}, "Invalid address"},
      {{"decode"}, "needs a VALUE"},
      {{"decode", "0x100000000"}, "32-bit number"},
      {{"decode", "1", "T", "extra"}, "at most one TYPE"},
      {{"reg", "add", "HKLM\\Software\\New\xC3", "/v", "A"}, "not valid UTF-8"},
  };
  for (const auto& c : cases) {
    const auto r = run(c.args);
    // reg fails with 1 as reg.exe does; the other commands tell bad input by 2.
    EXPECT_EQ(c.args[0] == "reg" ? kExitNo : kExitUsage, r.code) << c.fragment;
    EXPECT_EQ("", r.out) << c.fragment;
    EXPECT_EQ(0u, r.err.rfind("ERROR: ", 0)) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.fragment)) << "expected \"" << c.fragment << "\" in: " << r.err;
  }
  EXPECT_EQ(before, dump(HKEY_LOCAL_MACHINE) + dump(HKEY_CURRENT_USER));
  EXPECT_EQ(setsBefore, sim_.registry.calls(SimRegistry::Op::Set));
}

TEST_F(BtutilCommandTest, RegistryFailuresExitWithOneAndTheirMessage) {
  sim_.registry.failNext(SimRegistry::Op::Set, ERROR_ACCESS_DENIED);
  auto r = run({"reg", "add", "HKCU\\A", "/v", "V", "/d", "x"});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_EQ("ERROR: Cannot write V under HKEY_CURRENT_USER\\A: Access is denied. (error 5)\n", r.err);
  sim_.registry.failNext(SimRegistry::Op::Set, ERROR_INVALID_PARAMETER);
  r = run({"reg", "add", "HKCU\\A", "/v", "V", "/d", "x"});
  EXPECT_EQ("ERROR: Cannot write V under HKEY_CURRENT_USER\\A: The parameter is incorrect. (error 87)\n", r.err);
  sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, true);
  r = run({"reg", "add", "HKLM\\Software\\vorlane", "/v", "LogDebug", "/t", "REG_DWORD", "/d", "1"});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_NE(std::string::npos, r.err.find("Access is denied")) << r.err;
  sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, false);

  ASSERT_EQ(0, run({"reg", "add", "HKCU\\A\\B", "/v", "V", "/d", "x"}).code);
  sim_.registry.failNext(SimRegistry::Op::Enum, ERROR_REGISTRY_IO_FAILED);
  r = run({"reg", "query", "HKCU\\A", "/s"});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_NE(std::string::npos, r.err.find("error 1016")) << r.err;
  sim_.registry.failNext(SimRegistry::Op::Delete, ERROR_ACCESS_DENIED);
  EXPECT_EQ(kExitNo, run({"reg", "delete", "HKCU\\A", "/f"}).code);
  EXPECT_EQ(0, run({"reg", "query", "HKCU\\A\\B"}).code);
  sim_.registry.failNext(SimRegistry::Op::Query, ERROR_ACCESS_DENIED);
  r = run({"reg", "export", "HKCU\\A", file("a.reg")});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_FALSE(std::filesystem::exists(file("a.reg")));
  // A store that cannot be opened (a symbolic link at its path, say) is a failure, not a missing key.
  sim_.registry.failNext(SimRegistry::Op::Open, ERROR_CANTOPEN, 0);  // the load step opens keys too
  r = run({"reg", "query", "HKCU\\A"});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_EQ(
      "ERROR: Cannot open HKEY_CURRENT_USER\\A: The configuration registry key could not be opened. (error 1011)\n",
      r.err);
}

TEST_F(BtutilCommandTest, ExportAndImportRoundTrip) {
  const std::string key = "HKCU\\Software\\Vorlane\\Pelmora";
  ASSERT_EQ(0, run({"reg", "add", key, "/v", "Path", "/d", "C:\\Program Files\\\"V\""}).code);
  ASSERT_EQ(0, run({"reg", "add", key, "/ve", "/d",
                    "d\xC3\xA9"
                    "faut"})
                   .code);
  ASSERT_EQ(0, run({"reg", "add", key, "/v", "Flags", "/t", "REG_DWORD", "/d", "0xc"}).code);
  ASSERT_EQ(0, run({"reg", "add", key + "\\Devices\\00:11:22:33:44:55", "/v", "Blob", "/t", "REG_BINARY", "/d",
                    "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"})
                   .code);
  ASSERT_EQ(0, run({"reg", "add", key + "\\Empty"}).code);
  const std::string before = dump(HKEY_CURRENT_USER);

  const std::string exported = file("p.reg");
  auto r = run({"reg", "export", key, exported});
  ASSERT_EQ(0, r.code) << r.err;
  const std::string bytes = readFile(exported);
  ASSERT_EQ("\xFF\xFE", bytes.substr(0, 2));
  std::wstring text;
  std::string error;
  bool utf16 = false;
  ASSERT_TRUE(decodeRegFileText(bytes, &text, &utf16, &error));
  // The key's default value leads; how each value is written is BtutilRegFileTest's.
  EXPECT_EQ(0u, text.find(L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vorlane\\"
                          L"Pelmora]\r\n@=\"d\u00e9faut\"\r\n"));

  // An existing file is kept unless /y says otherwise, and /y goes after KEY and FILE.
  for (const std::vector<std::string>& args : {std::vector<std::string>{"reg", "export", key, exported},
                                               {"reg", "export", "/y", key, exported},
                                               {"reg", "export", key, "-Y", exported}}) {
    r = run(args);
    EXPECT_EQ(kExitNo, r.code);
    EXPECT_NE(std::string::npos, r.err.find("/y")) << r.err;
  }
  ASSERT_EQ(0, run({"reg", "export", key, exported, "/y"}).code);
  EXPECT_EQ(bytes, readFile(exported));

  ASSERT_EQ(0, run({"reg", "delete", key, "/f"}).code);
  ASSERT_NE(before, dump(HKEY_CURRENT_USER));
  r = run({"reg", "import", exported});
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ("The operation completed successfully.\n", r.out);
  EXPECT_EQ(before, dump(HKEY_CURRENT_USER));
}

TEST_F(BtutilCommandTest, ImportAppliesDeletionsAndRefusesMalformedFilesWhole) {
  ASSERT_EQ(0, run({"reg", "add", "HKCU\\Old\\Sub", "/v", "X", "/d", "x"}).code);
  ASSERT_EQ(0, run({"reg", "add", "HKCU\\Keep", "/v", "Gone", "/d", "x"}).code);
  const std::string good = file("good.reg");
  const std::string content =
      "Windows Registry Editor Version 5.00\n\n[-HKEY_CURRENT_USER\\Old]\n\n"
      "[HKEY_CURRENT_USER\\Keep]\n\"Gone\"=-\n\"New\"=hex(b):01,00,00,00,\\\n  00,00,00,00\n";
  // Behind a UTF-8 byte order mark reg.exe sees no header and imports nothing.
  const std::string untouched = dump(HKEY_CURRENT_USER);
  writeFile(good, "\xEF\xBB\xBF" + content);
  auto r = run({"reg", "import", good});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_NE(std::string::npos, r.err.find("UTF-8 byte order mark")) << r.err;
  EXPECT_EQ(untouched, dump(HKEY_CURRENT_USER));
  writeFile(good, content);
  r = run({"reg", "import", good});
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ("HKEY_CURRENT_USER\nHKEY_CURRENT_USER\\Keep\n  New REG_QWORD 0100000000000000\n", dump(HKEY_CURRENT_USER));

  const std::string before = dump(HKEY_CURRENT_USER);
  const int setsBefore = sim_.registry.calls(SimRegistry::Op::Set);
  const int deletesBefore = sim_.registry.calls(SimRegistry::Op::Delete);
  const std::string bad = file("bad.reg");
  writeFile(bad,
            "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\Keep]\r\n"
            "[HKEY_CURRENT_USER\\Other]\r\n\"A\"=dword:1\r\n\"B\"=hex:01,\\\r\n  0g\r\n\"C\"=\"x\" #no\r\n");
  r = run({"reg", "import", bad});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_EQ("ERROR: " + bad +
                ": 2 malformed lines, which reg.exe would skip or mangle while importing the rest. btutil imports a "
                "file whole or not at all. Nothing was imported.\n  line 7: Bad hex data at \"0g\": bytes are 1 or 2 "
                "hex digits separated by commas. (the value starts on line 6)\n  line 8: Only a ; comment may follow "
                "the closing quote.\n",
            r.err);
  EXPECT_EQ("", r.out);
  EXPECT_EQ(before, dump(HKEY_CURRENT_USER));
  EXPECT_EQ(setsBefore, sim_.registry.calls(SimRegistry::Op::Set));
  EXPECT_EQ(deletesBefore, sim_.registry.calls(SimRegistry::Op::Delete));

  // A header reg.exe reads nothing of: success, and nothing imported.
  writeFile(bad, "REGEDIT4 FOO\r\n[HKEY_CURRENT_USER\\Fuzzy]\r\n\"V\"=\"x\"\r\n");
  r = run({"reg", "import", bad});
  EXPECT_EQ(kExitOk, r.code);
  EXPECT_NE(std::string::npos, r.out.find("Nothing was imported")) << r.out;
  EXPECT_EQ(before, dump(HKEY_CURRENT_USER));
  writeFile(bad, std::string("\xFF\xFEW\0", 4));
  r = run({"reg", "import", bad});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_NE(std::string::npos, r.err.find("line 1: The file must start with")) << r.err;
  r = run({"reg", "import", file("missing.reg")});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_NE(std::string::npos, r.err.find("Cannot read")) << r.err;

  // A failure while applying names the line; what came before stays applied.
  writeFile(good, "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n\"A\"=\"1\"\n\"B\"=\"2\"\n");
  sim_.registry.failNext(SimRegistry::Op::Set, ERROR_DISK_FULL);
  r = run({"reg", "import", good});
  EXPECT_EQ(kExitNo, r.code);
  EXPECT_NE(std::string::npos, r.err.find("line 3 (HKEY_CURRENT_USER\\X): There is not enough space on the disk."))
      << r.err;
}

// addr as text and JSON; the forms of an address are rows of
// BtutilParseTest.AddressesInEveryForm, the help of every command is BtutilHelpTest's.
TEST_F(BtutilCommandTest, AddressDecodeAndDemo) {
  auto r = run({"addr", "00-1A-7D-DA-71-13"});
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ("Text:    00:1a:7d:da:71:13\nBtAddr:  0x001A7DDA7113\nBdAddr:  00 1A 7D DA 71 13\n", r.out);
  EXPECT_EQ((Json{{"text", "00:1a:7d:da:71:13"},
                  {"btAddr", "0x001A7DDA7113"},
                  {"value", 0x1A7DDA7113ULL},
                  {"bdAddr", "00 1A 7D DA 71 13"}}),
            Json::parse(run({"addr", "00-1A-7D-DA-71-13", "--json"}).out));
  r = run({"addr", "00:11", "--json"});
  EXPECT_EQ(kExitUsage, r.code);
  EXPECT_EQ("", r.out);

  r = run({"decode", "0x1234", "DWORD"});
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ("Unknown type: 0x1234\n", r.out);
  EXPECT_EQ("Unknown type: 0x00012345\n", run({"decode", "74565"}).out);

  load(0x0C, 0x10003);
  r = run({});
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("    LogDebug        REG_DWORD    0xc\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("    EnableAppDebug  REG_DWORD    0x10003\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("log level mask 0xC, application trace mask 0x3")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("BdaddrToBtaddr  0x001A7DDA7113")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("BT2Lptstr       00:1a:7d:da:71:13")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("XAD_Decode(0x1234, \"DWORD\")  Unknown type: 0x1234")) << r.out;

  sim_.registry.clear();
  diag::resetDebugSettings();
  r = run({});
  ASSERT_EQ(0, r.code);
  EXPECT_NE(std::string::npos, r.out.find("    LogDebug        (not set)\n")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("log level mask 0x0, application trace mask 0x0")) << r.out;
}

// reg query --json: one JSON document that a parser reads back
// to what is stored, of every value type.
TEST_F(BtutilCommandTest, RegQueryGivesEveryTypeItsJsonForm) {
  const wchar_t* key = L"Software\\Json";
  put(key, L"", REG_SZ, stringData(L"default"));
  put(key, L"Dword", REG_DWORD, {0x0C, 0, 0, 0});
  put(key, L"Qword", REG_QWORD, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  put(key, L"BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 2});
  put(key, L"Expand", REG_EXPAND_SZ, stringData(L"%HOME%/x \u00fc \"q\"\\"));
  put(key, L"Multi", REG_MULTI_SZ, stringData(std::wstring(L"a\0b\0", 4)));
  put(key, L"Binary", REG_BINARY, {0xDE, 0xAD});
  put(key, L"Narrow", REG_DWORD, {1, 2});         // a number of the wrong width: its bytes
  put(key, L"Lone", REG_SZ, {0x00, 0xD8, 0, 0});  // a lone surrogate is replaced, not thrown over
  put(L"Software\\Json\\Child", L"Dword", REG_DWORD, {1, 0, 0, 0});

  test::BtutilRun r = run({"reg", "query", "HKCU\\Software\\Json", "--json"});
  ASSERT_EQ(kExitOk, r.code) << r.err;
  const Json one = Json::parse(r.out);
  ASSERT_EQ(1u, one["keys"].size());
  EXPECT_EQ("HKEY_CURRENT_USER\\Software\\Json", one["keys"][0]["key"]);
  EXPECT_EQ(Json::array({"HKEY_CURRENT_USER\\Software\\Json\\Child"}), one["keys"][0]["subkeys"]);
  std::map<std::string, Json> byName;
  for (const Json& value : one["keys"][0]["values"]) byName[value["name"]] = value;
  ASSERT_EQ(9u, byName.size()) << r.out;
  EXPECT_EQ((Json{{"name", ""}, {"type", "REG_SZ"}, {"data", "default"}}), byName[""]);
  EXPECT_EQ(12, byName["Dword"]["data"]);
  EXPECT_EQ(0xFFFFFFFFFFFFFFFFULL, byName["Qword"]["data"].get<uint64_t>());
  EXPECT_EQ(0x102, byName["BigEndian"]["data"]);
  EXPECT_EQ("REG_DWORD_BIG_ENDIAN", byName["BigEndian"]["type"]);
  EXPECT_EQ("%HOME%/x \xC3\xBC \"q\"\\", byName["Expand"]["data"]);
  EXPECT_EQ(Json::array({"a", "b"}), byName["Multi"]["data"]);
  EXPECT_EQ("DEAD", byName["Binary"]["data"]);
  EXPECT_EQ("REG_DWORD", byName["Narrow"]["type"]);
  EXPECT_EQ("0102", byName["Narrow"]["data"]);
  EXPECT_TRUE(byName["Lone"]["data"].is_string());

  // The tree and the value search: every key once, no subkey lists.
  const Json tree = Json::parse(run({"reg", "query", "HKCU\\Software\\Json", "/s", "--json"}).out);
  ASSERT_EQ(2u, tree["keys"].size());
  EXPECT_FALSE(tree["keys"][1].contains("subkeys"));
  const Json search = Json::parse(run({"reg", "query", "HKCU\\Software\\Json", "/v", "Dword", "/s", "/json"}).out);
  ASSERT_EQ(2u, search["keys"].size());
  EXPECT_EQ(1, search["keys"][1]["values"][0]["data"]);
  const Json fallback = Json::parse(run({"reg", "query", "HKCU\\Software\\Json", "/ve", "--json"}).out);
  EXPECT_EQ("default", fallback["keys"][0]["values"][0]["data"]);

  // Not found: the negative answer, and no document at all on standard output.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"reg", "query", "HKCU\\Software\\Json", "/v", "Missing", "--json"},
        {"reg", "query", "HKCU\\Software\\Missing", "--json"}}) {
    r = run(args);
    EXPECT_EQ(kExitNo, r.code) << args[3];
    EXPECT_EQ("", r.out) << args[3];
  }
  EXPECT_EQ(Json::parse(R"({"keys": []})"),
            Json::parse(run({"reg", "query", "HKCU\\Software\\Json", "/v", "Missing", "/s", "--json"}).out));
  EXPECT_EQ(kExitNo, run({"reg", "query", "HKCU\\Software\\Json", "--json", "--json"}).code);
}

}  // namespace
}  // namespace utils::btutil
