// btutil's help and exit codes, checked for every command of the table: each
// answers --help, -h and "help COMMAND" with its text and exit codes, and each
// ends with the one exit-code table's codes.
#include <functional>
#include <sstream>

#include "btutil_runner.h"
#include "command_table.h"
#include "radio_fixture.h"
#include "usage.h"

namespace utils::test {
namespace {

using btutil::kExitFailed;
using btutil::kExitNo;
using btutil::kExitOk;
using btutil::kExitUsage;

class BtutilHelpTest : public RadioTest {
 protected:
  static BtutilRun run(const std::vector<std::string>& args) { return runBtutil(args); }
  static std::string help(std::string_view topic) {
    std::ostringstream out;
    EXPECT_TRUE(btutil::printHelp(out, topic)) << topic;
    return out.str();
  }
};

TEST_F(BtutilHelpTest, EveryCommandAnswersEveryHelpRequest) {
  const std::string overview = run({"--help"}).out;
  const std::string hint = run({"no-such-command"}).err;
  for (const btutil::Command& command : btutil::commands()) {
    const std::string name(command.name);
    EXPECT_NE(std::string::npos, overview.find("\n  btutil " + name)) << name << " is missing from the overview";
    EXPECT_NE(std::string::npos, hint.find(" " + name)) << name << " is missing from the unknown-command hint";
    const std::string text = help(name);
    EXPECT_NE(std::string::npos, text.find("Usage")) << name;
    EXPECT_NE(std::string::npos, text.find("\nExit status:\n  0  ")) << name;
    const std::vector<std::vector<std::string>> requests{
        {name, "--help"}, {name, "-h"}, {name, "/?"}, {name, "-?"}, {"help", name}, {name, "help"}, {"--help", name}};
    for (const auto& request : requests) {
      const BtutilRun r = run(request);
      EXPECT_EQ(kExitOk, r.code) << request[0] << ' ' << request[1];
      EXPECT_EQ(text, r.out) << request[0] << ' ' << request[1];
      EXPECT_EQ("", r.err) << request[0] << ' ' << request[1];
    }
    // Each operation's text, asked for in both ways.
    for (const btutil::HelpTopic& topic : command.topics().subspan(1)) {
      const std::string operation(topic.name.substr(command.name.size() + 1));
      EXPECT_EQ(help(topic.name), run({name, operation, "--help"}).out) << topic.name;
      EXPECT_EQ(help(topic.name), run({"help", name, operation}).out) << topic.name;
    }
  }
  EXPECT_EQ(overview, run({"help"}).out);
  EXPECT_EQ(overview, run({"-h"}).out);
  const BtutilRun unknown = run({"help", "frobnicate"});
  EXPECT_EQ(kExitUsage, unknown.code);
  EXPECT_NE(std::string::npos, unknown.err.find("There is no help on \"frobnicate\"")) << unknown.err;
}

TEST_F(BtutilHelpTest, EveryCommandEndsWithTheCodesOfOneTable) {
  const std::string local = "11:22:33:44:55:66";  // the simulated radio
  const std::string remote = "66:77:88:99:aa:bb";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::function<void()> prepare = {};
  };
  const std::vector<Case> cases = {
      // reg answers every failure with 1, as reg.exe does. Outcomes the commands'
      // own tests hold (reg, permit, services, ftplist, paired) are not
      // repeated here.
      {{"reg", "add", "HKLM\\T"}, kExitNo, [this] { sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, true); }},
      {{"addr", "00:11"}, kExitUsage},
      {{"decode", "7"}, kExitOk},
      {{"decode", "x"}, kExitUsage},
      {{"xml", "frobnicate"}, kExitUsage},
      {{"radio"}, kExitOk},
      {{"radio", "extra"}, kExitUsage},
      {{"radio"}, kExitFailed, [this] { sim_.radio.setRadio(0, false); }},
      {{"hci", "0xFC01"}, kExitOk},
      {{"hci", "0xFC01", "0g"}, kExitUsage},
      {{"hci", "0xFC01"}, kExitFailed, [this] { sim_.radio.setRadio(0, false); }},
      {{"paired", "--bogus"}, kExitUsage},
      {{"stack", "extra"}, kExitUsage},
      {{"rssi", local}, kExitOk},  // after hci: the radio's cached details serve it
      {{"rssi", "nonsense"}, kExitUsage},
      {{"rssi", local}, kExitFailed, [this] { sim_.bus.setInterfaces({}); }},
      {{"watch", local, "--seconds", "x"}, kExitUsage},
      {{"dun", "00:11", "status"}, kExitUsage},
      {{"dun", remote, "redial"}, kExitUsage},
      {{"dun", remote, "watch", "--timeout", "5"}, kExitUsage},
      {{"dun", remote, "status"}, kExitNo},
      {{"permit", "grant", local, remote, "1", "--always"},
       kExitFailed,
       [this] { sim_.registry.setReadOnly(HKEY_CURRENT_USER, true); }},
      {{"services", "supported", "{nonsense}"}, kExitUsage},
      {{"services", "enable", remote}, kExitFailed, [this] { sim_.radio.setRadio(0, false); }},
      {{"ftplist", "unpack"}, kExitUsage},
      {{"ftplist", "frobnicate"}, kExitUsage},
      {{"demo"}, kExitOk},
      {{"demo", "extra"}, kExitUsage},
      {{"--trace", "0xZZ", "demo"}, kExitUsage},
  };
  for (const Case& c : cases) {
    sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, false);
    sim_.registry.setReadOnly(HKEY_CURRENT_USER, false);
    sim_.radio.setRadio(0x0000112233445566ULL);
    sim_.bus.setInterfaces({L"\\\\?\\vrlbus#0"});
    if (c.prepare) c.prepare();
    const BtutilRun r = run(c.args);
    std::string shown;
    for (const auto& arg : c.args) shown += arg + ' ';
    EXPECT_EQ(c.code, r.code) << shown << "\n" << r.err;
    if (c.code == kExitUsage || c.code == kExitFailed || (c.code == kExitNo && c.args[0] == "reg")) {
      EXPECT_EQ(0u, r.err.rfind("ERROR: ", 0)) << shown;
    }
  }
  sim_.registry.setReadOnly(HKEY_CURRENT_USER, false);
  sim_.registry.setReadOnly(HKEY_LOCAL_MACHINE, false);

  // Output that cannot be written is the system's refusal, whatever the command.
  std::ostringstream out, err;
  out.setstate(std::ios::badbit);
  std::istringstream in;
  EXPECT_EQ(kExitFailed, btutil::runBtutil(std::vector<std::string>{"addr", local}, in, out, err));
  EXPECT_NE(std::string::npos, err.str().find("The output could not be written.")) << err.str();
  EXPECT_EQ(kExitNo, btutil::runBtutil(std::vector<std::string>{"reg", "query", "HKCU"}, in, out, err));
  // reg's help says so, and lists neither 2 nor 3.
  const std::string regHelp = run({"reg", "add", "--help"}).out;
  EXPECT_NE(std::string::npos, regHelp.find("every failure exits with 1")) << regHelp;
  EXPECT_EQ(std::string::npos, regHelp.find("\n  2  ")) << regHelp;
}

}  // namespace
}  // namespace utils::test
