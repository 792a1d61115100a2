// btutil permit, services, ftplist and unlock on the simulated platform: exit
// codes, what they print, and the settings they write. (btutil lang is tested
// end to end in integration/ui_btutil_test.sh.)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>

#include <nlohmann/json.hpp>

#include "btutil_runner.h"
#include "common/utf16.h"
#include "permit_time.h"
#include "policy_fixture.h"
#include "port/platform.h"

namespace utils::btutil {
namespace {

using Json = nlohmann::json;

class PolicyCommandTest : public test::PolicyTest {
 protected:
  using Result = test::BtutilRun;
  static Result run(const std::vector<std::string>& args, const std::string& input = "") {
    return test::runBtutil(args, input);
  }
  // Runs a command that must succeed; answers what it printed.
  static std::string succeeded(const std::vector<std::string>& args) {
    const Result result = run(args);
    EXPECT_EQ(kExitOk, result.code) << args[1] << ": " << result.err;
    return result.out;
  }
  static constexpr const char* kLocal = "00:11:22:33:44:55";
  static constexpr const char* kRemote = "66:77:88:99:aa:bb";
  const std::wstring kDeviceKey = L"SOFTWARE\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55\\66:77:88:99:AA:BB";
};

TEST_F(PolicyCommandTest, PermitGrantCheckAndRevoke) {
  EXPECT_EQ(kExitNo, run({"permit", "check", kLocal, kRemote, "0x1105"}).code);
  EXPECT_EQ(0, run({"permit", "grant", kLocal, kRemote, "0x1105", "--once"}).code);
  std::vector<BYTE> data;
  ASSERT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105", &data));
  EXPECT_EQ(le(1, 4), data);
  Result first = run({"permit", "check", kLocal, kRemote, "0x1105"});
  EXPECT_EQ(0, first.code);
  EXPECT_EQ("Permitted.\n", first.out);
  EXPECT_EQ("Not permitted.\n", run({"permit", "check", kLocal, kRemote, "0x1105"}).out);

  // What grant, allow-all and revoke did, in words (4357 = 0x1105).
  EXPECT_EQ("Granted request 0x1105 of 66:77:88:99:AA:BB on radio 00:11:22:33:44:55 always.\n",
            succeeded({"permit", "grant", kLocal, kRemote, "4357", "--always"}));
  EXPECT_EQ(0, run({"permit", "check", kLocal, kRemote, "0x1105"}).code);
  EXPECT_EQ(0, run({"permit", "revoke", kLocal, kRemote, "0x1105"}).code);
  EXPECT_FALSE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105"));

  EXPECT_EQ(0, run({"permit", "grant", kLocal, kRemote, "7", "--until", "+1h"}).code);
  ASSERT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"7_time", &data));
  EXPECT_EQ(le(sim_.clock.systemTimeAsFileTime() + 36000000000ULL, 8), data);
  EXPECT_EQ(0, run({"permit", "check", kLocal, kRemote, "7"}).code);
  EXPECT_EQ(0, run({"permit", "grant", kLocal, kRemote, "7", "--until", "2000-01-01T00:00:00Z"}).code);
  EXPECT_EQ(kExitNo, run({"permit", "check", kLocal, kRemote, "7"}).code);
  EXPECT_EQ("Revoked request 0x0007 of 66:77:88:99:AA:BB on radio 00:11:22:33:44:55 (removed 7_time).\n",
            succeeded({"permit", "revoke", kLocal, kRemote, "7"}));
  EXPECT_EQ(
      "Nothing to revoke: no permission was stored for request 0x0007 of 66:77:88:99:AA:BB on radio "
      "00:11:22:33:44:55.\n",
      run({"permit", "revoke", kLocal, kRemote, "7"}).out);

  EXPECT_EQ("Allowed every request of 66:77:88:99:AA:BB on radio 00:11:22:33:44:55.\n",
            succeeded({"permit", "allow-all", kLocal, kRemote}));
  EXPECT_EQ(0, run({"permit", "check", kLocal, kRemote, "0xbeef"}).code);
  EXPECT_EQ(0, run({"permit", "revoke", kLocal, kRemote, "--allow-all"}).code);
  EXPECT_EQ(kExitNo, run({"permit", "check", kLocal, kRemote, "0xbeef"}).code);
  EXPECT_EQ(0u, sim_.registry.openHandles());
}

TEST_F(PolicyCommandTest, PermitRefusesBadArgumentsAndWritesNothing) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"permit", "grant", kLocal, kRemote, "0x1105"},
           {"permit", "grant", kLocal, kRemote, "0x1105", "--once", "--always"},
           {"permit", "grant", kLocal, kRemote, "0x10000", "--once"},
           {"permit", "grant", "nonsense", kRemote, "1", "--once"},
           {"permit", "grant", kLocal, kRemote, "1", "--until", "tomorrow"},
           {"permit", "grant", kLocal, kRemote, "1", "--until", "2026-02-30T00:00:00Z"},
           {"permit", "check", kLocal, kRemote},
           {"permit", kLocal, kRemote, "1"},  // the check is an explicit operation
           {"permit", "frobnicate", kLocal, kRemote},
           {"permit"}}) {
    const Result result = run(args);
    EXPECT_EQ(kExitUsage, result.code) << args.back();
    EXPECT_NE(std::string::npos, result.err.find("ERROR: ")) << args.back();
  }
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kDeviceKey));
}

// Sets TZ for one test and restores it.
struct ScopedTimeZone {
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved = old;
    set(zone);
  }
  ~ScopedTimeZone() { set(saved ? saved->c_str() : nullptr); }
  static void set(const char* zone) {
    zone != nullptr ? setenv("TZ", zone, 1) : unsetenv("TZ");
    tzset();
  }
  std::optional<std::string> saved;
};

TEST_F(PolicyCommandTest, PermitTimesAreLocalUnlessAZoneIsGiven) {
  const ScopedTimeZone zone("EST5");  // five hours behind UTC, all year
  constexpr uint64_t kEpoch = 116444736000000000ULL;
  constexpr uint64_t kHour = 3600ULL * 10000000;
  struct Case {
    const char* text;
    uint64_t expected;
  };
  for (const Case& c : {Case{"1970-01-01T00:00:00Z", kEpoch}, Case{"1970-01-01T00:00:00", kEpoch + 5 * kHour},
                        Case{"1970-01-01 00:00", kEpoch + 5 * kHour}, Case{"1970-01-01T01:00+01:00", kEpoch},
                        Case{"1970-01-01T00:00:00-0130", kEpoch + 3 * kHour / 2}, Case{"1970-01-01T02:00+02", kEpoch},
                        Case{"+90s", 100 + 90ULL * 10000000}, Case{"+2d", 100 + 48 * kHour}}) {
    EXPECT_EQ(c.expected, parsePermitTime(c.text, 100)) << c.text;
  }
  for (const char* bad : {"+", "+h", "+5y", "1970-01-01T24:00:00", "1970-13-01T00:00:00", "1600-12-31T00:00:00",
                          "1970-01-01T00:00:00+24:00", "1970-01-01T00:00:00 UTC", "1970-01-01T00:00:0", "1970-01-01"}) {
    EXPECT_FALSE(parsePermitTime(bad, 0).has_value()) << bad;
  }
  EXPECT_EQ("1969-12-31 19:00:00", localTimeText(kEpoch));
  EXPECT_EQ("1970-01-01T00:00:00Z", utcTimeText(kEpoch));

  // grant says what it wrote, in local time and in UTC.
  const Result granted = run({"permit", "grant", kLocal, kRemote, "7", "--until", "2026-03-01T12:00"});
  ASSERT_EQ(kExitOk, granted.code) << granted.err;
  EXPECT_EQ(
      "Granted request 0x0007 of 66:77:88:99:AA:BB on radio 00:11:22:33:44:55 until 2026-03-01 12:00:00 local "
      "time (2026-03-01T17:00:00Z).\n",
      granted.out);
}

TEST_F(PolicyCommandTest, PermitShowDecodesWhatIsStoredAndChangesNothing) {
  const ScopedTimeZone zone("EST5");
  EXPECT_EQ("Permissions of 66:77:88:99:AA:BB on radio 00:11:22:33:44:55\n(HKEY_CURRENT_USER\\" +
                wideToUtf8(kDeviceKey) + "):\n  nothing is stored\n",
            run({"permit", "show", kLocal, kRemote}).out);
  const uint64_t now = sim_.clock.systemTimeAsFileTime();
  put(HKEY_CURRENT_USER, kDeviceKey, L"1105", REG_DWORD, le(1, 4));
  put(HKEY_CURRENT_USER, kDeviceKey, L"1106", REG_DWORD, le(2, 4));
  put(HKEY_CURRENT_USER, kDeviceKey, L"7_time", REG_QWORD, le(now + 10000000, 8));
  put(HKEY_CURRENT_USER, kDeviceKey, L"8_TIME", REG_QWORD, le(now - 1, 8));
  put(HKEY_CURRENT_USER, kDeviceKey, L"9", REG_QWORD, le(1, 8));         // too wide: read as absent
  put(HKEY_CURRENT_USER, kDeviceKey, L"01105", REG_DWORD, le(1, 4));     // a name the check never reads
  put(HKEY_CURRENT_USER, kDeviceKey, L"AllowAll", REG_QWORD, le(0, 8));  // 0: grants nothing
  const int setsBefore = sim_.registry.calls(sim::SimRegistry::Op::Set);
  const int deletesBefore = sim_.registry.calls(sim::SimRegistry::Op::Delete);

  Result shown = run({"permit", "show", kLocal, kRemote});
  ASSERT_EQ(kExitOk, shown.code) << shown.err;
  EXPECT_NE(std::string::npos, shown.out.find("  every request    not allowed (AllowAll is 0)\n")) << shown.out;
  EXPECT_NE(std::string::npos, shown.out.find("  request 0x0007   until " + localTimeText(now + 10000000) +
                                              " local time (" + utcTimeText(now + 10000000) + ")\n"))
      << shown.out;
  EXPECT_NE(std::string::npos, shown.out.find(", expired\n")) << shown.out;
  EXPECT_NE(std::string::npos, shown.out.find("  request 0x0009   standing value unreadable")) << shown.out;
  EXPECT_NE(std::string::npos, shown.out.find("  request 0x1105   once\n")) << shown.out;
  EXPECT_NE(std::string::npos, shown.out.find("  request 0x1106   always\n")) << shown.out;
  EXPECT_EQ(std::string::npos, shown.out.find("0x0110 ")) << "01105 is no setting of the check";

  const Json document = Json::parse(run({"permit", "show", kLocal, kRemote, "--json"}).out);
  EXPECT_EQ("66:77:88:99:AA:BB", document["remote"]);
  EXPECT_FALSE(document["allowAll"]);
  ASSERT_EQ(5u, document["requests"].size());
  const Json& seven = document["requests"][0];
  EXPECT_EQ(7, seven["code"]);
  EXPECT_TRUE(seven["standing"].is_null());
  EXPECT_EQ(utcTimeText(now + 10000000), seven["until"]);
  EXPECT_TRUE(seven["grants"]);
  EXPECT_TRUE(document["requests"][1]["expired"]);
  EXPECT_FALSE(document["requests"][1]["grants"]);
  EXPECT_EQ("unreadable", document["requests"][2]["standing"]);
  EXPECT_EQ("once", document["requests"][3]["standing"]);

  // Showing wrote nothing and used up nothing: the one-time permission still grants once.
  EXPECT_EQ(setsBefore, sim_.registry.calls(sim::SimRegistry::Op::Set));
  EXPECT_EQ(deletesBefore, sim_.registry.calls(sim::SimRegistry::Op::Delete));
  EXPECT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105"));
  EXPECT_EQ(kExitOk, run({"permit", "check", kLocal, kRemote, "0x1105"}).code);
  EXPECT_EQ(kExitNo, run({"permit", "check", kLocal, kRemote, "0x1105"}).code);
}

TEST_F(PolicyCommandTest, FtplistPackUnpackAndRefusal) {
  const Result packed = run({"ftplist", "pack", "--lead", "/inbox", "a.txt", "b \xC3\xBC.txt"});
  ASSERT_EQ(0, packed.code) << packed.err;
  EXPECT_EQ(4u + 14 + 12 + 16 + 4, packed.out.size());
  EXPECT_EQ(static_cast<char>(packed.out.size()), packed.out[0]);
  const Result unpacked = run({"ftplist", "unpack", "--lead"}, packed.out);
  EXPECT_EQ(0, unpacked.code) << unpacked.err;
  EXPECT_EQ("/inbox\na.txt\nb \xC3\xBC.txt\n", unpacked.out);
  EXPECT_EQ("/inbox\na.txt\nb \xC3\xBC.txt\n", run({"ftplist", "unpack"}, packed.out).out);

  // A block made in place never had its size field written: it unpacks all the same.
  std::string unsized = packed.out;
  unsized.replace(0, 4, "\xAA\xBB\xCC\xDD");
  EXPECT_EQ("/inbox\na.txt\nb \xC3\xBC.txt\n", run({"ftplist", "unpack", "--lead"}, unsized).out);
  Result refused = run({"ftplist", "unpack"}, packed.out.substr(0, packed.out.size() - 1));
  EXPECT_EQ(kExitUsage, refused.code);
  EXPECT_TRUE(refused.out.empty());
  EXPECT_NE(std::string::npos, refused.err.find("Not a well-formed file-name list block: ")) << refused.err;

  // "--" ends the options; -0 ends each string with a NUL, so a line break in a name survives.
  const Result dashed = run({"ftplist", "pack", "--", "-h", "--lead", "two\nlines"});
  ASSERT_EQ(kExitOk, dashed.code) << dashed.err;
  EXPECT_EQ(std::string("-h\0--lead\0two\nlines\0", 20), run({"ftplist", "unpack", "-0"}, dashed.out).out);
  refused = run({"ftplist", "unpack"}, dashed.out);
  EXPECT_EQ(kExitUsage, refused.code);
  EXPECT_TRUE(refused.out.empty());
  EXPECT_NE(std::string::npos, refused.err.find("String 3 holds a line break")) << refused.err;

  // From a file, or "-" for standard input; a file that cannot be opened is the system's refusal.
  const std::string path = ::testing::TempDir() + "ftplist_unpack_block.bin";
  std::ofstream(path, std::ios::binary) << packed.out;
  EXPECT_EQ("/inbox\na.txt\nb \xC3\xBC.txt\n", run({"ftplist", "unpack", "--lead", path}).out);
  EXPECT_EQ("/inbox\na.txt\nb \xC3\xBC.txt\n", run({"ftplist", "unpack", "--lead", "-"}, packed.out).out);
  std::remove(path.c_str());
  EXPECT_EQ(kExitFailed, run({"ftplist", "unpack", path}).code);
  EXPECT_EQ(kExitFailed, run({"ftplist", "unpack", ::testing::TempDir()}).code);
  EXPECT_EQ(kExitUsage, run({"ftplist", "unpack", path, path}).code);

  const Result empty = run({"ftplist", "pack", "a", ""});
  EXPECT_EQ(kExitUsage, empty.code);
  EXPECT_NE(std::string::npos, empty.err.find("File name 2 is empty")) << empty.err;
  EXPECT_EQ(std::string("\x08\0\0\0\0\0\0\0", 8), run({"ftplist", "pack"}).out);
}

TEST_F(PolicyCommandTest, ServicesSupportedInEveryFormOfUuid) {
  const std::string guid = "{00001105-0000-1000-8000-00805f9b34fb}";
  Result result = run({"services", "supported", guid});
  EXPECT_EQ(kExitNo, result.code);
  EXPECT_EQ("{00001105-0000-1000-8000-00805F9B34FB} (OBEX Object Push) is not supported.\n", result.out);
  put(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora\\Supported", L"{00001105-0000-1000-8000-00805F9B34FB}",
      REG_DWORD, le(1, 4));
  for (const char* form : {"{00001105-0000-1000-8000-00805f9b34fb}", "00001105-0000-1000-8000-00805f9b34fb", "0x1105",
                           "1105", "0x00001105", "00001105", "0X1105"}) {
    result = run({"services", "supported", form});
    EXPECT_EQ(kExitOk, result.code) << form << result.err;
    EXPECT_EQ("{00001105-0000-1000-8000-00805F9B34FB} (OBEX Object Push) is supported.\n", result.out) << form;
  }
  EXPECT_EQ(kExitNo, run({"services", "supported", "0x110b"}).code);
  for (const char* bad : {"110", "0x11051", "0x", "1105-0000", "{00001105-0000-1000-8000-00805f9b34fb", "0x-105",
                          "00001105-0000-1000-8000-00805f9b34fbX", ""}) {
    result = run({"services", "supported", bad});
    EXPECT_EQ(kExitUsage, result.code) << bad;
    EXPECT_NE(std::string::npos, result.err.find("is not a service class")) << bad;
  }
  const Json answer = Json::parse(run({"services", "supported", "0x1105", "--json"}).out);
  EXPECT_EQ("{00001105-0000-1000-8000-00805F9B34FB}", answer["service"]);
  EXPECT_EQ(true, answer["supported"]);

  // enable: the simulated radio's phone offers the class.
  constexpr GUID kObex = {0x00001105, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
  sim_.radio.setRadio(0x001122334455ULL);
  sim_.radio.addDevice(0x66778899AABBULL, {kObex});
  result = run({"services", "enable", kRemote});
  EXPECT_EQ(0, result.code) << result.err;
  EXPECT_EQ(
      "Services enabled for 66:77:88:99:aa:bb on radio 00:11:22:33:44:55:\n"
      "  {00001105-0000-1000-8000-00805F9B34FB}\n",
      result.out);
  const Json enabled = Json::parse(run({"services", "enable", kRemote, "--json"}).out);
  EXPECT_EQ("00:11:22:33:44:55", enabled["radio"]);
  EXPECT_EQ(Json::array({"{00001105-0000-1000-8000-00805F9B34FB}"}), enabled["services"]);
  EXPECT_EQ(0u, sim_.radio.openHandles());
}

TEST_F(PolicyCommandTest, ServicesListShowsTheSupportListAsEnableReadsIt) {
  EXPECT_EQ(
      "Support list (HKEY_LOCAL_MACHINE\\SOFTWARE\\Vorlane\\Pelmora\\Supported):\n"
      "  the key does not exist: no service class is supported\n",
      run({"services", "list"}).out);
  const std::wstring list = L"SOFTWARE\\Vorlane\\Pelmora\\Supported";
  put(HKEY_LOCAL_MACHINE, list, L"{00001105-0000-1000-8000-00805F9B34FB}", REG_DWORD, le(1, 4));
  put(HKEY_LOCAL_MACHINE, list, L"{0000110B-0000-1000-8000-00805F9B34FB}", REG_DWORD, le(0, 4));
  put(HKEY_LOCAL_MACHINE, list, L"{00001106-0000-1000-8000-00805F9B34FB}", REG_BINARY, le(1, 4));
  put(HKEY_LOCAL_MACHINE, list, L"{12345678-0000-1000-8000-00805F9B34FB}", REG_QWORD, le(1, 8));
  put(HKEY_LOCAL_MACHINE, list, L"OBEX", REG_DWORD, le(1, 4));
  const Result shown = run({"services", "list"});
  ASSERT_EQ(kExitOk, shown.code) << shown.err;
  for (const char* line : {"  {00001105-0000-1000-8000-00805F9B34FB}  supported  OBEX Object Push\n",
                           "  {0000110B-0000-1000-8000-00805F9B34FB}  not supported  Audio Sink\n",
                           "  {00001106-0000-1000-8000-00805F9B34FB}  supported (REG_BINARY: services supported "
                           "reads it, services enable passes over it)  OBEX File Transfer\n",
                           "  {12345678-0000-1000-8000-00805F9B34FB}  ignored (the value is not a REG_DWORD)\n",
                           "  OBEX  ignored (the name is no service class GUID in braces)\n"}) {
    EXPECT_NE(std::string::npos, shown.out.find(line)) << line << "\nin:\n" << shown.out;
  }
  const Json document = Json::parse(run({"services", "list", "--json"}).out);
  EXPECT_TRUE(document["exists"]);
  ASSERT_EQ(5u, document["services"].size());
  size_t supported = 0;
  for (const Json& entry : document["services"]) supported += entry["status"] == "supported";
  EXPECT_EQ(2u, supported);
  EXPECT_EQ(kExitUsage, run({"services", "list", "extra"}).code);
  EXPECT_EQ(kExitUsage, run({"services", "frobnicate"}).code);
}

struct UnlockCall {
  int calls = 0;
  ULONGLONG context = 0;
};
UnlockCall gUnlock;
DWORD acceptUnlock(ULONGLONG context, const wchar_t*, const wchar_t*, const wchar_t*, DWORD) {
  ++gUnlock.calls;
  gUnlock.context = context;
  return 0;
}

// The context given to the unlock component, its answers, and command lines
// that prompt for nothing.
TEST_F(PolicyCommandTest, UnlockExitCodes) {
  gUnlock = {};
  sim_.modules.define(L"VskSdkDll.dll",
                      {{"LE_EnableUnlockFeature", reinterpret_cast<port::ModuleEntry>(&acceptUnlock)}});
  sim_.credentials.setAccount(L"alice", L"");
  sim_.credentials.setAccountPassword(L"pw");
  sim_.credentials.setEntry({.password = L"pw"});
  EXPECT_EQ(kExitOk, run({"unlock", "--context", "0x1234"}).code);
  EXPECT_EQ(0x1234u, gUnlock.context);
  EXPECT_EQ(kExitOk, run({"unlock", "--context", "18446744073709551615"}).code);
  EXPECT_EQ(UINT64_MAX, gUnlock.context);
  EXPECT_EQ(kExitOk, run({"unlock"}).code);
  EXPECT_EQ(0u, gUnlock.context);
  EXPECT_EQ(3, gUnlock.calls);

  sim_.credentials.setEntry({.password = L"wrong"});
  const Result refused = run({"unlock"});
  EXPECT_EQ(kExitNo, refused.code);
  EXPECT_NE(std::string::npos, refused.out.find("Not unlocked")) << refused.out;
  EXPECT_EQ(3, gUnlock.calls);

  // Bad command lines prompt for nothing.
  const size_t prompts = sim_.credentials.prompts().size();
  for (const std::vector<std::string>& line : std::vector<std::vector<std::string>>{
           {"unlock", "--context", "x12"},
           {"unlock", "--context", "18446744073709551616"},
           {"unlock", "--context", "-1"},
           {"unlock", "--context"},
           {"unlock", "extra"},
       }) {
    const Result result = run(line);
    EXPECT_EQ(kExitUsage, result.code) << line.back();
    EXPECT_TRUE(result.out.empty()) << line.back();
  }
  EXPECT_EQ(prompts, sim_.credentials.prompts().size());

  // A build without the prompt or the language support says so.
  port::Platform record = port::platform();
  record.credentials = nullptr;
  record.shell = nullptr;
  port::installPlatform(record);
  EXPECT_EQ(kExitFailed, run({"unlock"}).code);
  EXPECT_EQ(kExitFailed, run({"lang"}).code);
}

}  // namespace
}  // namespace utils::btutil
