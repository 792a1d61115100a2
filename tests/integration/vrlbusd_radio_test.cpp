// The library's notification service against vrlbusd with a stand-in
// controller that refuses the signal-strength command with Command Status
// "unknown HCI command": the polling thread learns that the radio does not
// know the command and ends, instead of polling for ever.
#include <gtest/gtest.h>

#include "h4_standin.h"
#include "radio_test_env.h"
#include "utils/notification.h"
#include "utils/radio.h"

namespace utils::test {
namespace {

constexpr const char* kWatchedText = "11:22:33:44:55:01";

TEST(VrlbusdRadioTest, ARadioWithoutTheSignalCommandEndsThePollingThread) {
  requireProgram(vrlbusdPath());
  BluezSession session("");
  ASSERT_TRUE(session.addDevice(kWatchedText, "Phone"));
  ASSERT_TRUE(session.connect(kWatchedText));
  H4StandIn standIn(session.folder.path() + "/controller.sock");
  standIn.setRule(0xFC59, {H4StandIn::Answer::kStatus, 0x01, {}, {}, {}});
  standIn.setRule(0x1001, {H4StandIn::Answer::kComplete, 0, {0x0B, 0, 1, 0x0B, 0x1D, 0, 0x09, 0x22}, {}, {}});
  const std::string socket = session.folder.path() + "/bus.sock";
  ChildProcess daemon({vrlbusdPath(), "--h4-socket", standIn.path(), "--socket", socket}, {},
                      session.folder.path() + "/vrlbusd.log");
  ASSERT_TRUE(waitForSocket(socket, 5000));
  ::setenv("UTILS_BUS_SOCKET", socket.c_str(), 1);
  const auto traced = [&session](const char* text, size_t times) {
    return waitUntil([&] { return countOf(readFileText(session.debugLog()), text) >= times; }, 10000);
  };

  // The exported command sees the refusal as a failed request: not supported.
  const BYTE address[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x01};
  EXPECT_EQ(1u, SendRssiCmdWithAddr(address));

  // The device is connected from the start: the thread polls at once, learns
  // that the command is unknown, and ends; a disconnection and a connection
  // reach the service but wake no polling thread.
  UTIL_BT_Initialize(0x112233445501ULL);
  EXPECT_TRUE(traced("VSC 0x0Fc59 not supported", 1)) << readFileText(session.debugLog());
  const size_t asked = standIn.commands().size();
  ASSERT_TRUE(session.connect(kWatchedText, false));
  ASSERT_TRUE(session.connect(kWatchedText));
  EXPECT_TRUE(traced("GUID_BLUETOOTH_HCI_EVENT Notification", 2)) << readFileText(session.debugLog());
  EXPECT_EQ(asked, standIn.commands().size()) << "the polling thread still sends commands";
  UTIL_BT_Uninitialize();
  ::unsetenv("UTILS_BUS_SOCKET");
}

}  // namespace
}  // namespace utils::test
