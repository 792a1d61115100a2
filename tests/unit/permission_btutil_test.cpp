// btutil permit, services and ftplist on the simulated platform: exit codes,
// what they print, and the settings they write.
#include <sstream>

#include "commands.h"
#include "permit_time.h"
#include "policy_fixture.h"

namespace utils::btutil {
namespace {

class PolicyCommandTest : public test::PolicyTest {
 protected:
  struct Result {
    int code;
    std::string out;
    std::string err;
  };
  Result run(std::vector<std::string> args, const std::string& input = "") {
    std::ostringstream out, err;
    Console console{out, err};
    int code = 0;
    if (!args.empty() && args[0] == "ftplist") {
      std::istringstream in(input);
      code = runFtplist(std::span<const std::string>(args).subspan(1), in, console);
    } else {
      code = runBtutil(args, out, err);
    }
    return Result{code, out.str(), err.str()};
  }
  static constexpr const char* kLocal = "00:11:22:33:44:55";
  static constexpr const char* kRemote = "66:77:88:99:aa:bb";
  const std::wstring kDeviceKey = L"SOFTWARE\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55\\66:77:88:99:AA:BB";
};

TEST_F(PolicyCommandTest, PermitGrantCheckAndRevoke) {
  EXPECT_EQ(kExitNo, run({"permit", kLocal, kRemote, "0x1105"}).code);
  EXPECT_EQ(0, run({"permit", "grant", kLocal, kRemote, "0x1105", "--once"}).code);
  std::vector<BYTE> data;
  ASSERT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105", &data));
  EXPECT_EQ(le(1, 4), data);
  Result first = run({"permit", kLocal, kRemote, "0x1105"});
  EXPECT_EQ(0, first.code);
  EXPECT_EQ("Permitted.\n", first.out);
  EXPECT_EQ("Not permitted.\n", run({"permit", kLocal, kRemote, "0x1105"}).out);

  EXPECT_EQ(0, run({"permit", "grant", kLocal, kRemote, "4357", "--always"}).code);  // 4357 = 0x1105
  EXPECT_EQ(0, run({"permit", kLocal, kRemote, "0x1105"}).code);
  EXPECT_EQ(0, run({"permit", kLocal, kRemote, "0x1105"}).code);
  EXPECT_EQ(0, run({"permit", "revoke", kLocal, kRemote, "0x1105"}).code);
  EXPECT_FALSE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105"));

  EXPECT_EQ(0, run({"permit", "grant", kLocal, kRemote, "7", "--until", "+1h"}).code);
  ASSERT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"7_time", &data));
  EXPECT_EQ(le(sim_.clock.systemTimeAsFileTime() + 36000000000ULL, 8), data);
  EXPECT_EQ(0, run({"permit", kLocal, kRemote, "7"}).code);
  EXPECT_EQ(0, run({"permit", "grant", kLocal, kRemote, "7", "--until", "2000-01-01T00:00:00Z"}).code);
  EXPECT_EQ(kExitNo, run({"permit", kLocal, kRemote, "7"}).code);

  EXPECT_EQ(0, run({"permit", "allow-all", kLocal, kRemote}).code);
  EXPECT_EQ(0, run({"permit", kLocal, kRemote, "0xbeef"}).code);
  EXPECT_EQ(0, run({"permit", "revoke", kLocal, kRemote, "--allow-all"}).code);
  EXPECT_EQ(kExitNo, run({"permit", kLocal, kRemote, "0xbeef"}).code);
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
           {"permit", kLocal, kRemote}}) {
    const Result result = run(args);
    EXPECT_EQ(kExitUsage, result.code) << args.back();
    EXPECT_NE(std::string::npos, result.err.find("ERROR: ")) << args.back();
  }
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kDeviceKey));
}

TEST_F(PolicyCommandTest, PermitTimes) {
  EXPECT_EQ(116444736000000000ULL, parsePermitTime("1970-01-01T00:00:00Z", 0));
  EXPECT_EQ(116444736000000000ULL + 86400ULL * 10000000, parsePermitTime("1970-01-02 00:00:00", 0));
  EXPECT_EQ(100u + 90ULL * 10000000, parsePermitTime("+90s", 100));
  EXPECT_EQ(2ULL * 86400 * 10000000, parsePermitTime("+2d", 0));
  for (const char* bad : {"+", "+h", "+5y", "1970-01-01T24:00:00", "1970-13-01T00:00:00", "1600-12-31T00:00:00"}) {
    EXPECT_FALSE(parsePermitTime(bad, 0).has_value()) << bad;
  }
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

  std::string damaged = packed.out;
  damaged[0] = 9;
  Result refused = run({"ftplist", "unpack"}, damaged);
  EXPECT_EQ(kExitUsage, refused.code);
  EXPECT_TRUE(refused.out.empty());
  EXPECT_NE(std::string::npos,
            refused.err.find("Not a well-formed file-name list block: The block's size field says 9"))
      << refused.err;
  refused = run({"ftplist", "unpack"}, packed.out.substr(0, packed.out.size() - 1));
  EXPECT_EQ(kExitUsage, refused.code);

  const Result empty = run({"ftplist", "pack", "a", ""});
  EXPECT_EQ(kExitUsage, empty.code);
  EXPECT_NE(std::string::npos, empty.err.find("File name 2 is empty")) << empty.err;
  EXPECT_EQ(std::string("\x08\0\0\0\0\0\0\0", 8), run({"ftplist", "pack"}).out);
}

TEST_F(PolicyCommandTest, ServicesSupported) {
  const std::string guid = "{00001105-0000-1000-8000-00805f9b34fb}";
  Result result = run({"services", "supported", guid});
  EXPECT_EQ(kExitNo, result.code);
  EXPECT_EQ("{00001105-0000-1000-8000-00805F9B34FB} is not supported.\n", result.out);
  put(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora\\Supported", L"{00001105-0000-1000-8000-00805F9B34FB}",
      REG_DWORD, le(1, 4));
  result = run({"services", "supported", guid});
  EXPECT_EQ(0, result.code);
  EXPECT_EQ("{00001105-0000-1000-8000-00805F9B34FB} is supported.\n", result.out);
  EXPECT_EQ(kExitUsage, run({"services", "supported", "00001105"}).code);

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
  EXPECT_EQ(0u, sim_.radio.openHandles());
}

}  // namespace
}  // namespace utils::btutil
