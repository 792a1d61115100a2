// btutil's radio commands on the simulated radio and bus driver, and btutil dun
// on the simulated dialler: exit codes, what they print and send.
#include <nlohmann/json.hpp>
#include <sstream>

#include "commands.h"
#include "dialup_fixture.h"

namespace utils::test {
namespace {

// Runs a command line and keeps its output for the checks.
template <typename Fixture>
class CommandTest : public Fixture {
 protected:
  int run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return btutil::runBtutil(args, out_, err_);
  }
  std::ostringstream out_, err_;
};
using RadioCommandsTest = CommandTest<RadioTest>;
using DunCommandTest = CommandTest<DunTest>;

TEST_F(RadioCommandsTest, HciSendsTheBytesAndPrintsTheAnswer) {
  EXPECT_EQ(0, run({"hci", "0xFC59", "01", "0011", "22", "33", "44", "55", "--pattern", "aa"}));
  EXPECT_EQ("Result: 0 (0x0, success)\nAnswer: 0E 04 01 59 FC 00\n", out_.str());
  EXPECT_EQ((std::vector<BYTE>{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 10, 1, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA}),
            sim_.bus.requests().back().input);

  EXPECT_EQ(btutil::kExitUsage, run({"hci"}));
  EXPECT_EQ(btutil::kExitUsage, run({"hci", "0x10000"}));
  EXPECT_EQ(btutil::kExitUsage, run({"hci", "0xFC01", "--pattern", "0102"}));
  EXPECT_EQ(1u, sim_.bus.requests().size()) << "refused command lines send nothing";

  sim_.radio.setRadio(0, false);
  EXPECT_EQ(btutil::kExitFailed, run({"hci", "0xFC01"}));
  EXPECT_EQ("Result: 4294967295 (0xFFFFFFFF, no local radio)\n", out_.str());
}

TEST_F(RadioCommandsTest, RadioPairedAndRssi) {
  EXPECT_EQ(0, run({"radio"}));
  EXPECT_NE(std::string::npos, out_.str().find("Address:        11:22:33:44:55:66")) << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find("Manufacturer:   0x001D"));

  sim_.radio.addDevice(1, {});
  sim_.radio.addDevice(2, {});
  EXPECT_EQ(0, run({"paired"}));
  EXPECT_EQ("Remembered devices: 2\n", out_.str());
  EXPECT_TRUE(sim_.bus.requests().empty());
  EXPECT_EQ(0, run({"paired", "--notify"}));
  ASSERT_EQ(1u, sim_.bus.requests().size());
  EXPECT_EQ(2, sim_.bus.requests()[0].input[4]);

  EXPECT_EQ(0, run({"rssi", "00:11:22:33:44:55"}));
  const auto sent = sim_.bus.requests().back().input;
  EXPECT_EQ((std::vector<BYTE>{1, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}),
            std::vector<BYTE>(sent.begin() + 9, sent.begin() + 16));

  sim_.bus.setInterfaces({});
  EXPECT_EQ(btutil::kExitFailed, run({"paired", "--notify"}));
  EXPECT_NE(std::string::npos, err_.str().find("vrlbusd"));
  EXPECT_EQ(btutil::kExitFailed, run({"paired", "--notify", "--json"}));
  EXPECT_EQ("", out_.str()) << "no document when the command fails";
}

TEST_F(RadioCommandsTest, ReportsAsJson) {
  using Json = nlohmann::json;
  ASSERT_EQ(0, run({"radio", "--json"}));
  const Json radio = Json::parse(out_.str());
  EXPECT_EQ("11:22:33:44:55:66", radio["address"]);
  EXPECT_EQ(0x1D, radio["manufacturer"]);
  EXPECT_TRUE(radio["name"].is_string());
  EXPECT_TRUE(radio["class"].is_number_unsigned());
  EXPECT_TRUE(radio["lmpSubversion"].is_number_unsigned());

  sim_.radio.addDevice(1, {});
  ASSERT_EQ(0, run({"paired", "--json", "--notify"}));
  EXPECT_EQ((Json{{"remembered", 1}, {"notified", true}}), Json::parse(out_.str()));
  ASSERT_EQ(0, run({"paired", "--json"}));
  EXPECT_EQ((Json{{"remembered", 1}, {"notified", false}}), Json::parse(out_.str()));

  ASSERT_EQ(0, run({"stack", "--json"}));
  const Json stack = Json::parse(out_.str());
  for (const char* check : {"CheckBtStackIsStart", "DeviceIsVorlane", "BtDriverIsReady"}) {
    ASSERT_TRUE(stack.contains(check)) << check;
    EXPECT_LE(stack[check].get<unsigned>(), 1u) << check;
  }
  EXPECT_EQ(3u, stack.size());

  sim_.radio.setRadio(0, false);
  EXPECT_EQ(btutil::kExitFailed, run({"radio", "--json"}));
  EXPECT_EQ("", out_.str());
}

constexpr const char* kPhoneText = "00:19:A1:B2:C3:D4";

TEST_F(DunCommandTest, ExitCodesOfEachOutcome) {
  // No report within the time: the dial is hung up again and the answer is no.
  sim_.dialup.keepAfterHangUp(0);
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "connect", "--timeout", "0"})) << err_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" no report within 0 s: hanging up\n")) << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" connected=0\n")) << out_.str();
  ASSERT_EQ(1u, sim_.dialup.dials().size());
  EXPECT_EQ(1u, sim_.dialup.hangUps().size()) << "the unanswered dial was hung up";

  // A dial that cannot start reports 0: a negative answer.
  sim_.dialup.failDial(ERROR_INVALID_HANDLE);
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "connect"})) << err_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" connected=0\n")) << out_.str();

  // No entry to start from: the dial cannot be prepared, the system refused.
  sim_.dialup.failDial(0);
  sim_.dialup.failReadDefaultEntry(ERROR_ACCESS_DENIED);
  EXPECT_EQ(btutil::kExitFailed, run({"dun", kPhoneText, "connect"}));
  EXPECT_NE(std::string::npos, err_.str().find("could not be prepared")) << err_.str();
  EXPECT_EQ(2u, sim_.dialup.dials().size()) << "nothing dialled";

  // Nothing to release or report: no.
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "disconnect"}));
  EXPECT_NE(std::string::npos, out_.str().find("no connection on the phone's modem")) << out_.str();
  EXPECT_EQ(btutil::kExitNo, run({"dun", kPhoneText, "status"}));
  EXPECT_EQ(btutil::kExitOk, run({"dun", kPhoneText, "watch", "--seconds", "0"}));
  EXPECT_NE(std::string::npos,
            out_.str().find(" watching 00:19:A1:B2:C3:D4 (no connection on the phone's modem) for 0 s\n"))
      << out_.str();
  EXPECT_NE(std::string::npos, out_.str().find(" stopped\n")) << out_.str();
}

}  // namespace
}  // namespace utils::test
