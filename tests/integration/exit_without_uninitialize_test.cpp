// A process that ends without UTIL_BT_Uninitialize while the notification
// service runs (its event thread delivering, its polling thread asking the bus
// daemon) exits at once and cleanly: nothing that those threads use is torn
// down under them, and nothing waits for them. Under the sanitizers a use of a
// destroyed object ends the child with an error.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "radio_test_env.h"

namespace utils::test {
namespace {

constexpr const char* kWatchedText = "string:11:22:33:44:55:01";

TEST(ExitWithoutUninitialize, TheProcessEndsCleanlyAndAtOnce) {
  requireProgram("dbus-daemon");
  requireProgram("dbus-send");
  requireProgram(vrlbusdPath());
  if (runProgram({"/usr/bin/python3", "-c", "import dbusmock"}, {}) != 0) GTEST_SKIP() << "no python3-dbusmock";
  TempFolder folder;
  MockBluez bluez;
  EmulatedBusDaemon daemon({"--manufacturer", "0x1D"});
  ASSERT_TRUE(bluez.mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
  ASSERT_TRUE(bluez.mock("AddDevice", {"string:hci0", kWatchedText, "string:Phone"}));
  ASSERT_TRUE(bluez.mock("ConnectDevice", {"string:hci0", kWatchedText}));
  const std::map<std::string, std::string> environment{{"DBUS_SYSTEM_BUS_ADDRESS", bluez.address()},
                                                       {"UTILS_BUS_SOCKET", daemon.socketPath()},
                                                       {"UTILS_REGISTRY_MACHINE", folder.path() + "/machine.db"},
                                                       {"UTILS_REGISTRY_USER", folder.path() + "/user.db"},
                                                       {"UTILS_DEBUG_OUTPUT", folder.path() + "/debug.log"}};
  for (const char* mode : {"return", "exit", "callback", "return", "exit"}) {
    const std::string output = folder.path() + "/" + mode + ".txt";
    ChildProcess child({UTILS_EXIT_CHILD_PATH, mode}, environment, output);
    // The child waits for a signal level (a second or two), then must end at
    // once: a callback still running 30 s must not hold it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(25);
    while (child.running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(child.running()) << mode << ": still running after 25 s\n" << readFileText(output);
    EXPECT_EQ(0, child.stop()) << mode << "\n" << readFileText(output);
  }
}

}  // namespace
}  // namespace utils::test
