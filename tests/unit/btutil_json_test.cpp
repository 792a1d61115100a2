// btutil reg query --json and addr --json on the simulated platform: one JSON
// document that a parser reads back to what is stored, of every value type.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "btutil_runner.h"
#include "sim_fixture.h"

namespace utils::btutil {
namespace {

using Json = nlohmann::json;

class BtutilJsonTest : public test::SimTest {
 protected:
  static test::BtutilRun run(const std::vector<std::string>& args) { return test::runBtutil(args); }
  void put(const wchar_t* path, const wchar_t* name, DWORD type, std::vector<BYTE> data) {
    HKEY key = nullptr;
    ASSERT_EQ(0u, sim_.registry.createKey(HKEY_CURRENT_USER, path, KEY_WRITE, &key, nullptr));
    ASSERT_EQ(0u, sim_.registry.setValue(key, name, type, data.data(), static_cast<DWORD>(data.size())));
    sim_.registry.closeKey(key);
  }
  // The UTF-16LE bytes of text with its terminator.
  static std::vector<BYTE> utf16(std::u16string_view text) {
    std::vector<BYTE> bytes;
    for (char16_t unit : text) {
      bytes.push_back(static_cast<BYTE>(unit));
      bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
  }
};

TEST_F(BtutilJsonTest, RegQueryGivesEveryTypeItsJsonForm) {
  const wchar_t* key = L"Software\\Json";
  put(key, L"", REG_SZ, utf16(u"default"));
  put(key, L"Dword", REG_DWORD, {0x0C, 0, 0, 0});
  put(key, L"Qword", REG_QWORD, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  put(key, L"BigEndian", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 2});
  put(key, L"Expand", REG_EXPAND_SZ, utf16(u"%HOME%/x \u00fc \"q\"\\"));
  put(key, L"Multi", REG_MULTI_SZ, utf16(std::u16string(u"a\0b\0", 4)));
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

TEST_F(BtutilJsonTest, AddrAsJson) {
  const Json address = Json::parse(run({"addr", "00-1A-7D-DA-71-13", "--json"}).out);
  EXPECT_EQ((Json{{"text", "00:1a:7d:da:71:13"},
                  {"btAddr", "0x001A7DDA7113"},
                  {"value", 0x1A7DDA7113ULL},
                  {"bdAddr", "00 1A 7D DA 71 13"}}),
            address);
  const test::BtutilRun refused = run({"addr", "00:11", "--json"});
  EXPECT_EQ(kExitUsage, refused.code);
  EXPECT_EQ("", refused.out);
}

}  // namespace
}  // namespace utils::btutil
