// btutil's radio commands on the simulated radio and bus driver, and btutil dun
// on the simulated dialler: exit codes, what they print and send.
#include <nlohmann/json.hpp>

#include "btutil_runner.h"
#include "dialup_fixture.h"

namespace utils::test {
namespace {

using RadioCommandsTest = RadioTest;
using DunCommandTest = DunTest;
using Json = nlohmann::json;

TEST_F(RadioCommandsTest, EachCommandPrintsAndSendsWhatItShouldAndFailsWithoutARadio) {
  auto run = runBtutil({"radio"});
  EXPECT_EQ(0, run.code);
  EXPECT_NE(std::string::npos, run.out.find("Address:        11:22:33:44:55:66")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find("Manufacturer:   0x001D")) << run.out;
  const Json radio = Json::parse(runBtutil({"radio", "--json"}).out);
  EXPECT_EQ("11:22:33:44:55:66", radio["address"]);
  EXPECT_EQ(0x1D, radio["manufacturer"]);
  EXPECT_TRUE(radio["name"].is_string());
  EXPECT_TRUE(radio["class"].is_number_unsigned());
  EXPECT_TRUE(radio["lmpSubversion"].is_number_unsigned());
  const Json stack = Json::parse(runBtutil({"stack", "--json"}).out);
  EXPECT_EQ(3u, stack.size());
  for (const char* check : {"CheckBtStackIsStart", "DeviceIsVorlane", "BtDriverIsReady"}) {
    EXPECT_LE(stack.value(check, 2u), 1u) << check;
  }

  sim_.radio.addDevice(1, {});
  sim_.radio.addDevice(2, {});
  std::ostringstream out, err;  // through the overload that reads the process's standard input
  EXPECT_EQ(0, btutil::runBtutil(std::vector<std::string>{"paired"}, out, err));
  EXPECT_EQ("Remembered devices: 2\n", out.str());
  EXPECT_EQ((Json{{"remembered", 2}, {"notified", false}}), Json::parse(runBtutil({"paired", "--json"}).out));
  EXPECT_TRUE(sim_.bus.requests().empty());
  EXPECT_EQ((Json{{"remembered", 2}, {"notified", true}}),
            Json::parse(runBtutil({"paired", "--json", "--notify"}).out));
  EXPECT_EQ(0, runBtutil({"paired", "--notify"}).code);
  ASSERT_EQ(2u, sim_.bus.requests().size());
  EXPECT_EQ(2, sim_.bus.requests()[0].input[4]);

  EXPECT_EQ(0, runBtutil({"rssi", "00:11:22:33:44:55"}).code);
  const auto sent = sim_.bus.requests().back().input;
  EXPECT_EQ((std::vector<BYTE>{1, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}),
            std::vector<BYTE>(sent.begin() + 9, sent.begin() + 16));

  run = runBtutil({"hci", "0xFC59", "01", "0011", "22", "33", "44", "55", "--pattern", "aa"});
  EXPECT_EQ(0, run.code);
  EXPECT_EQ("Result: 0 (0x0, success)\nAnswer: 0E 04 01 59 FC 00\n", run.out);
  EXPECT_EQ((std::vector<BYTE>{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 10, 1, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA}),
            sim_.bus.requests().back().input);
  const size_t requests = sim_.bus.requests().size();
  for (const auto& refused :
       std::vector<std::vector<std::string>>{{"hci"}, {"hci", "0x10000"}, {"hci", "0xFC01", "--pattern", "0102"}}) {
    EXPECT_EQ(btutil::kExitUsage, runBtutil(refused).code) << refused.back();
  }
  EXPECT_EQ(requests, sim_.bus.requests().size()) << "refused command lines send nothing";

  // No bus driver; no radio: failures, and no document.
  sim_.bus.setInterfaces({});
  run = runBtutil({"paired", "--notify"});
  EXPECT_EQ(btutil::kExitFailed, run.code);
  EXPECT_NE(std::string::npos, run.err.find("vrlbusd")) << run.err;
  run = runBtutil({"paired", "--notify", "--json"});
  EXPECT_EQ(btutil::kExitFailed, run.code);
  EXPECT_EQ("", run.out);
  sim_.bus.setInterfaces({L"\\\\?\\vrlbus#0"});
  sim_.radio.setRadio(0, false);
  run = runBtutil({"hci", "0xFC01"});
  EXPECT_EQ(btutil::kExitFailed, run.code);
  EXPECT_EQ("Result: 4294967295 (0xFFFFFFFF, no local radio)\n", run.out);
  run = runBtutil({"radio", "--json"});
  EXPECT_EQ(btutil::kExitFailed, run.code);
  EXPECT_EQ("", run.out);
}

constexpr const char* kPhoneText = "00:19:A1:B2:C3:D4";

TEST_F(DunCommandTest, ExitCodesOfEachOutcome) {
  // No report within the time: the dial is hung up again and the answer is no.
  sim_.dialup.keepAfterHangUp(0);
  auto run = runBtutil({"dun", kPhoneText, "connect", "--timeout", "0"});
  EXPECT_EQ(btutil::kExitNo, run.code) << run.err;
  EXPECT_NE(std::string::npos, run.out.find(" no report within 0 s: hanging up\n")) << run.out;
  EXPECT_NE(std::string::npos, run.out.find(" connected=0\n")) << run.out;
  ASSERT_EQ(1u, sim_.dialup.dials().size());
  EXPECT_EQ(1u, sim_.dialup.hangUps().size()) << "the unanswered dial was hung up";

  // A dial that cannot start reports 0: a negative answer.
  sim_.dialup.failDial(ERROR_INVALID_HANDLE);
  run = runBtutil({"dun", kPhoneText, "connect"});
  EXPECT_EQ(btutil::kExitNo, run.code) << run.err;
  EXPECT_NE(std::string::npos, run.out.find(" connected=0\n")) << run.out;

  // No entry to start from: the dial cannot be prepared, the system refused.
  sim_.dialup.failDial(0);
  sim_.dialup.failReadDefaultEntry(ERROR_ACCESS_DENIED);
  run = runBtutil({"dun", kPhoneText, "connect"});
  EXPECT_EQ(btutil::kExitFailed, run.code);
  EXPECT_NE(std::string::npos, run.err.find("could not be prepared")) << run.err;
  EXPECT_EQ(2u, sim_.dialup.dials().size()) << "nothing dialled";

  // Nothing to release: no (nothing to report: btutil_help_test's table).
  run = runBtutil({"dun", kPhoneText, "disconnect"});
  EXPECT_EQ(btutil::kExitNo, run.code);
  EXPECT_NE(std::string::npos, run.out.find("no connection on the phone's modem")) << run.out;
  run = runBtutil({"dun", kPhoneText, "watch", "--seconds", "0"});
  EXPECT_EQ(btutil::kExitOk, run.code);
  EXPECT_NE(std::string::npos,
            run.out.find(" watching 00:19:A1:B2:C3:D4 (no connection on the phone's modem) for 0 s\n"))
      << run.out;
  EXPECT_NE(std::string::npos, run.out.find(" stopped\n")) << run.out;
}

}  // namespace
}  // namespace utils::test
