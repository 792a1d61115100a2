// The notification service on real Linux components: BlueZ mocked by
// python3-dbusmock on a private system bus and vrlbusd --emulate as the bus
// driver, whose controller emulator answers every signal-strength command with
// a vendor event and varies the signal through every level.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "diag/debug_settings.h"
#include "port/linux/linux_platform.h"
#include "radio_test_env.h"
#include "utils/notification.h"
#include "utils/registry.h"

namespace utils::test {
namespace {

constexpr BtAddr kWatched = 0x112233445501ULL;
constexpr const char* kWatchedText = "string:11:22:33:44:55:01";

struct Call {
  DWORD connected = 0;
  DWORD level = 0;
  std::thread::id thread;
};

std::mutex gMutex;
std::condition_variable gArrived;
std::vector<Call> gCalls;

DWORD record(DWORD connected, DWORD level) {
  {
    std::lock_guard lock(gMutex);
    gCalls.push_back(Call{connected, level, std::this_thread::get_id()});
  }
  gArrived.notify_all();
  return 0;
}

// Waits up to timeoutMs for a callback that matches; returns the calls up to
// and including it, and leaves the later ones for the next wait.
template <class Matches>
std::vector<Call> waitFor(Matches matches, int timeoutMs) {
  std::unique_lock lock(gMutex);
  std::vector<Call> seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    while (!gCalls.empty()) {
      seen.push_back(gCalls.front());
      gCalls.erase(gCalls.begin());
      if (matches(seen.back())) return seen;
    }
    if (gArrived.wait_until(lock, deadline) == std::cv_status::timeout && gCalls.empty()) return {};
  }
}

class NotificationBluezTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram("dbus-daemon");
    requireProgram("dbus-send");
    requireProgram(vrlbusdPath());
    if (runProgram({"/usr/bin/python3", "-c", "import dbusmock"}, {}) != 0) {
      std::fprintf(stderr, "skipped: python3-dbusmock is not installed\n");
      std::exit(77);
    }
    folder_ = new TempFolder;
    bluez_ = new MockBluez;
    daemon_ = new EmulatedBusDaemon({"--manufacturer", "0x1D"});
    ASSERT_TRUE(bluez_->mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
    ASSERT_TRUE(bluez_->mock("AddDevice", {"string:hci0", kWatchedText, "string:Phone"}));
    ASSERT_TRUE(bluez_->mock("AddDevice", {"string:hci0", "string:11:22:33:44:55:02", "string:Other"}));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bluez_->address().c_str(), 1);
    ::setenv("UTILS_BUS_SOCKET", daemon_->socketPath().c_str(), 1);
    ::setenv("UTILS_REGISTRY_MACHINE", (folder_->path() + "/machine.db").c_str(), 1);
    ::setenv("UTILS_REGISTRY_USER", (folder_->path() + "/user.db").c_str(), 1);
    ::setenv("UTILS_DEBUG_OUTPUT", debugLog().c_str(), 1);
    linuxport::installNativePlatform();
    ASSERT_TRUE(SetRegisterDWORD(L"Software\\vorlane", L"LogDebug", 4, HKEY_LOCAL_MACHINE));
    diag::processAttach();
  }
  static void TearDownTestSuite() {
    UTIL_BT_Uninitialize();
    delete daemon_;
    delete bluez_;
    delete folder_;
  }
  static std::string debugLog() { return folder_->path() + "/debug.log"; }
  static size_t count(const std::string& text, const std::string& what) {
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
    return found;
  }

  static TempFolder* folder_;
  static MockBluez* bluez_;
  static EmulatedBusDaemon* daemon_;
};

TempFolder* NotificationBluezTest::folder_ = nullptr;
MockBluez* NotificationBluezTest::bluez_ = nullptr;
EmulatedBusDaemon* NotificationBluezTest::daemon_ = nullptr;

TEST_F(NotificationBluezTest, FollowsTheDeviceThroughConnectionSignalAndRadioChanges) {
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  ASSERT_EQ(1u, count(readFileText(debugLog()), "register device custom notification. m_hDevNotify = 0x"))
      << readFileText(debugLog());

  // Another device's connection is not reported.
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", "string:11:22:33:44:55:02"}));
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  auto calls = waitFor([](const Call& call) { return call.connected == 1 && call.level == 6; }, 5000);
  ASSERT_EQ(1u, calls.size()) << "the connection comes first and alone";
  EXPECT_NE(std::this_thread::get_id(), calls[0].thread) << "callbacks run on the library's event thread";
  const std::thread::id eventThread = calls[0].thread;

  // The polling thread asks once a second while the level changes; the
  // emulator's answers go through every level.
  std::set<DWORD> levels;
  calls = waitFor(
      [&levels](const Call& call) {
        if (call.connected == 1 && call.level <= 5) levels.insert(call.level);
        return levels.size() == 6;
      },
      // Levels change with each answer, so the polls come a second apart; a slow
      // build may see an answer early and back off for a while.
      60000);
  ASSERT_FALSE(calls.empty()) << "levels seen: " << levels.size() << "\n" << daemon_->log();
  for (const auto& call : calls) {
    EXPECT_EQ(1u, call.connected);
    EXPECT_EQ(eventThread, call.thread);
  }

  ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
  calls = waitFor([](const Call& call) { return call.connected == 0; }, 5000);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(0u, calls.back().level);

  // The radio goes away: its registration is dropped; it comes back: renewed.
  ASSERT_TRUE(bluez_->mock("RemoveAdapter", {"string:hci0"}));
  ASSERT_TRUE(bluez_->mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (count(readFileText(debugLog()), "register device custom notification. m_hDevNotify = 0x") < 2 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string log = readFileText(debugLog());
  EXPECT_EQ(1u, count(log, "OnDbtDeviceTypeInterface REMOVED")) << log;
  EXPECT_EQ(1u, count(log, "OnDbtDeviceTypeInterface ARRIVAL")) << log;
  EXPECT_EQ(2u, count(log, "register device custom notification. m_hDevNotify = 0x")) << log;
  EXPECT_LT(log.find("OnDbtDeviceTypeInterface REMOVED"), log.find("OnDbtDeviceTypeInterface ARRIVAL"));

  // The renewed registration delivers: the device connects again.
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  calls = waitFor([](const Call& call) { return call.connected == 1 && call.level == 6; }, 5000);
  ASSERT_FALSE(calls.empty());

  UTIL_BT_Uninitialize();
  {
    std::lock_guard lock(gMutex);
    gCalls.clear();
  }
  // Nothing is reported once the service has stopped.
  ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
  EXPECT_TRUE(waitFor([](const Call&) { return true; }, 500).empty());
}

TEST_F(NotificationBluezTest, AStartWithTheDeviceConnectedPollsAtOnceAndSurvivesABusDaemonRestart) {
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  auto calls = waitFor([](const Call& call) { return call.connected == 1 && call.level <= 5; }, 5000);
  ASSERT_FALSE(calls.empty()) << "a signal level without a connection event";

  // vrlbusd goes away and another takes its place on the same socket: the
  // events come again.
  daemon_->process().stop();
  ChildProcess replacement({vrlbusdPath(), "--emulate", "--socket", daemon_->socketPath(), "--manufacturer", "0x1D"},
                           {}, folder_->path() + "/vrlbusd-replacement.log");
  ASSERT_TRUE(waitForSocket(daemon_->socketPath(), 5000));
  {
    std::lock_guard lock(gMutex);
    gCalls.clear();
  }
  // The event subscription is renewed within a second; an answer that comes
  // before it is missed, and the next poll may then be 4 s away.
  calls = waitFor([](const Call& call) { return call.connected == 1 && call.level <= 5; }, 20000);
  EXPECT_FALSE(calls.empty()) << "no signal after the bus daemon came back";
  UTIL_BT_Uninitialize();
  replacement.stop();
  delete daemon_;
  daemon_ = new EmulatedBusDaemon({"--manufacturer", "0x1D"});
  UTIL_BT_Uninitialize();
  ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
}

TEST_F(NotificationBluezTest, BtutilWatchPrintsEachNotification) {
  const std::string output = folder_->path() + "/watch.txt";
  const std::string trace = folder_->path() + "/watch-debug.log";
  const std::map<std::string, std::string> environment{{"DBUS_SYSTEM_BUS_ADDRESS", bluez_->address()},
                                                       {"UTILS_BUS_SOCKET", daemon_->socketPath()},
                                                       {"UTILS_DEBUG_OUTPUT", trace}};
  ChildProcess watch({UTILS_BTUTIL_PATH, "watch", "11:22:33:44:55:01", "--seconds", "30"}, environment, output);
  const auto waitForText = [&output](const std::string& text) {
    for (int i = 0; i < 500 && readFileText(output).find(text) == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return readFileText(output).find(text) != std::string::npos;
  };
  ASSERT_TRUE(waitForText(" watching 11:22:33:44:55:01 for 30 s")) << readFileText(output);
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitForText(" connected=1 level=6\n")) << readFileText(output);
  // Signal levels follow, one per answer of the radio emulator.
  const auto levelLines = [&output] {
    const std::string text = readFileText(output);
    size_t lines = 0;
    for (char level = '0'; level <= '5'; ++level)
      lines += count(text, std::string(" connected=1 level=") + level + "\n");
    return lines;
  };
  for (int i = 0; i < 500 && levelLines() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(levelLines(), 2u) << readFileText(output) << readFileText(trace);
  ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitForText(" connected=0 level=0\n")) << readFileText(output);
  EXPECT_EQ(0, watch.stop()) << "SIGTERM ends the watch cleanly";
  EXPECT_NE(std::string::npos, readFileText(output).find(" stopped\n"));
}

}  // namespace
}  // namespace utils::test
