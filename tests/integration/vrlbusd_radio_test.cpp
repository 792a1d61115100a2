// The library's notification service against vrlbusd with a stand-in
// controller that refuses the signal-strength command with Command Status
// "unknown HCI command": the polling thread learns that the radio does not
// know the command and ends, instead of polling for ever.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "h4_standin.h"
#include "radio_test_env.h"
#include "utils/notification.h"
#include "utils/radio.h"

namespace utils::test {
namespace {

TEST(VrlbusdRadioTest, ARadioWithoutTheSignalCommandEndsThePollingThread) {
  requireProgram(vrlbusdPath());
  TempFolder folder;
  H4StandIn standIn(folder.path() + "/controller.sock");
  standIn.setRule(0xFC59, {H4StandIn::Answer::kStatus, 0x01, {}, {}, {}});
  standIn.setRule(0x1001, {H4StandIn::Answer::kComplete, 0, {0x0B, 0, 1, 0x0B, 0x1D, 0, 0x09, 0x22}, {}, {}});
  EmulatedBusDaemon daemon({"--h4-socket", standIn.path()}, false);
  BluezSession session(daemon.socketPath());
  ASSERT_TRUE(session.addDevice("11:22:33:44:55:01", "Phone"));
  ASSERT_TRUE(session.connect("11:22:33:44:55:01"));
  const auto logged = [&session](const char* what, size_t times) {
    return waitUntil([&] { return countOf(readFileText(session.debugLog()), what) >= times; }, 10000);
  };

  // The exported command sees the refusal as a failed request: not supported.
  const BYTE address[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x01};
  EXPECT_EQ(1u, SendRssiCmdWithAddr(address));

  // The device is connected from the start: the thread polls at once, learns
  // that the command is unknown, and ends.
  UTIL_BT_Initialize(0x112233445501ULL);
  EXPECT_TRUE(logged("VSC 0x0Fc59 not supported", 1)) << readFileText(session.debugLog());
  const size_t asked = standIn.commands().size();
  // A disconnection and a connection wake a running thread at once; an ended
  // one sends nothing more.
  ASSERT_TRUE(session.connect("11:22:33:44:55:01", false));
  ASSERT_TRUE(session.connect("11:22:33:44:55:01"));
  EXPECT_TRUE(logged("GUID_BLUETOOTH_HCI_EVENT Notification", 2)) << readFileText(session.debugLog());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(asked, standIn.commands().size()) << "the polling thread still sends commands";
  UTIL_BT_Uninitialize();
}

}  // namespace
}  // namespace utils::test
