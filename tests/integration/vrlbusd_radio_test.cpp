// The library's notification service against vrlbusd with a stand-in
// controller that refuses the signal-strength command with Command Status
// "unknown HCI command": the polling thread learns that the radio does not
// know the command and ends, instead of polling for ever.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "diag/debug_settings.h"
#include "h4_standin.h"
#include "port/linux/linux_platform.h"
#include "radio_test_env.h"
#include "utils/notification.h"
#include "utils/radio.h"
#include "utils/registry.h"

namespace utils::test {
namespace {

constexpr BtAddr kWatched = 0x112233445501ULL;
constexpr const char* kWatchedText = "string:11:22:33:44:55:01";

// Waits up to timeoutMs until the file holds what at least `times` times.
bool waitForText(const std::string& path, const std::string& what, size_t times, int timeoutMs) {
  return waitUntil([&] { return countOf(readFileText(path), what) >= times; }, timeoutMs);
}

TEST(VrlbusdRadioTest, ARadioWithoutTheSignalCommandEndsThePollingThread) {
  requireProgram("dbus-daemon");
  requireProgram(vrlbusdPath());
  if (runProgram({"/usr/bin/python3", "-c", "import dbusmock"}, {}) != 0) GTEST_SKIP() << "no python3-dbusmock";
  TempFolder folder;
  MockBluez bluez;
  ASSERT_TRUE(bluez.mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
  ASSERT_TRUE(bluez.mock("AddDevice", {"string:hci0", kWatchedText, "string:Phone"}));
  ASSERT_TRUE(bluez.mock("ConnectDevice", {"string:hci0", kWatchedText}));

  H4StandIn standIn(folder.path() + "/controller.sock");
  standIn.setRule(0xFC59, {H4StandIn::Answer::kStatus, 0x01, {}, {}, {}});
  standIn.setRule(0x1001, {H4StandIn::Answer::kComplete, 0, {0x0B, 0, 1, 0x0B, 0x1D, 0, 0x09, 0x22}, {}, {}});
  const std::string socket = folder.path() + "/bus.sock";
  ChildProcess daemon({vrlbusdPath(), "--h4-socket", standIn.path(), "--socket", socket}, {},
                      folder.path() + "/vrlbusd.log");
  ASSERT_TRUE(waitForSocket(socket, 5000));

  const std::string debugLog = folder.path() + "/debug.log";
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bluez.address().c_str(), 1);
  ::setenv("UTILS_BUS_SOCKET", socket.c_str(), 1);
  ::setenv("UTILS_REGISTRY_MACHINE", (folder.path() + "/machine.db").c_str(), 1);
  ::setenv("UTILS_REGISTRY_USER", (folder.path() + "/user.db").c_str(), 1);
  ::setenv("UTILS_DEBUG_OUTPUT", debugLog.c_str(), 1);
  linuxport::installNativePlatform();
  ASSERT_TRUE(SetRegisterDWORD(L"Software\\vorlane", L"LogDebug", 4, HKEY_LOCAL_MACHINE));
  diag::processAttach();

  // The exported command sees the refusal as a failed request: not supported.
  const BYTE address[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x01};
  EXPECT_EQ(1u, SendRssiCmdWithAddr(address));

  // The device is connected from the start: the thread polls at once, learns
  // that the command is unknown, and ends.
  UTIL_BT_Initialize(kWatched);
  EXPECT_TRUE(waitForText(debugLog, "VSC 0x0Fc59 not supported", 1, 10000)) << readFileText(debugLog);
  const size_t asked = standIn.commands().size();
  // A disconnection and a connection wake a running thread at once; an ended
  // one sends nothing more.
  ASSERT_TRUE(bluez.mock("DisconnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(bluez.mock("ConnectDevice", {"string:hci0", kWatchedText}));
  EXPECT_TRUE(waitForText(debugLog, "GUID_BLUETOOTH_HCI_EVENT Notification", 2, 10000)) << readFileText(debugLog);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(asked, standIn.commands().size()) << "the polling thread still sends commands";
  UTIL_BT_Uninitialize();
  for (const char* name : {"DBUS_SYSTEM_BUS_ADDRESS", "UTILS_BUS_SOCKET", "UTILS_REGISTRY_MACHINE",
                           "UTILS_REGISTRY_USER", "UTILS_DEBUG_OUTPUT"}) {
    ::unsetenv(name);
  }
}

}  // namespace
}  // namespace utils::test
