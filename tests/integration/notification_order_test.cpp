// The order of the notification service's events on real Linux components:
// BlueZ mocked on a private bus, vrlbusd driving a stand-in controller that the
// test makes send vendor events. Connection changes from BlueZ and signal
// events from vrlbusd reach the callback in the order they came, also while a
// callback is busy; what arrives while UTIL_BT_Initialize sets up is delivered
// after it; a callback that does not return holds a bounded backlog.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "diag/debug_settings.h"
#include "h4_standin.h"
#include "port/linux/linux_platform.h"
#include "port/linux/notification_sources.h"
#include "port/linux/notification_window.h"
#include "port/platform.h"
#include "radio_test_env.h"
#include "utils/notification.h"
#include "utils/registry.h"

namespace utils::test {
namespace {

using Calls = std::vector<std::pair<DWORD, DWORD>>;

constexpr BtAddr kWatched = 0x112233445501ULL;
constexpr const char* kWatchedText = "string:11:22:33:44:55:01";
constexpr int kLongWaitMs = 20000;

// The callback's record, and a gate that holds the first call until opened.
std::mutex gMutex;
std::condition_variable gChanged;
Calls gCalls;
bool gGateOpen = true;
bool gInCall = false;

DWORD record(DWORD connected, DWORD level) {
  std::unique_lock lock(gMutex);
  gInCall = true;
  gChanged.notify_all();
  gChanged.wait(lock, [] { return gGateOpen; });
  gCalls.emplace_back(connected, level);
  gInCall = false;
  gChanged.notify_all();
  return 0;
}

template <class Condition>
bool waitUntil(Condition condition, int timeoutMs = kLongWaitMs) {
  std::unique_lock lock(gMutex);
  return gChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), condition);
}

// Polls a condition that no notification reports (a file, a counter), with a bound.
template <class Condition>
bool pollUntil(Condition condition, int timeoutMs = kLongWaitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A signal event (vendor sub-event 0x8E) for the watched device as an H4 packet.
Bytes signalEvent(uint8_t status, int8_t dbm) {
  return {0x04, 0xFF, 9, 0x8E, status, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01, static_cast<uint8_t>(dbm)};
}

// Counts a text in what a growing file gains, reading each part of it once.
class FileTail {
 public:
  explicit FileTail(std::string path) : path_(std::move(path)) {}
  size_t count(const std::string& what) {
    std::ifstream file(path_, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset_));
    std::string added((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    offset_ += added.size();
    window_ += added;
    for (size_t at = window_.find(what); at != std::string::npos; at = window_.find(what, at + 1)) ++found_;
    // Keep only what could begin a match that the next part completes.
    window_.erase(0, window_.size() >= what.size() ? window_.size() - what.size() + 1 : 0);
    return found_;
  }

 private:
  std::string path_;
  size_t offset_ = 0;
  std::string window_;
  size_t found_ = 0;
};

class NotificationOrderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram("dbus-daemon");
    requireProgram(vrlbusdPath());
    if (runProgram({"/usr/bin/python3", "-c", "import dbusmock"}, {}) != 0) {
      std::fprintf(stderr, "skipped: python3-dbusmock is not installed\n");
      std::exit(77);
    }
    folder_ = new TempFolder;
    bluez_ = new MockBluez;
    ASSERT_TRUE(bluez_->mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
    ASSERT_TRUE(bluez_->mock("AddDevice", {"string:hci0", kWatchedText, "string:Phone"}));
    standIn_ = new H4StandIn(folder_->path() + "/controller.sock");
    // Polls are answered without an event: every signal event comes from the test.
    standIn_->setRule(0xFC59, {H4StandIn::Answer::kComplete, 0, {}, {}, {}});
    standIn_->setRule(0x1001, versionRule());
    const std::string socket = folder_->path() + "/bus.sock";
    daemon_ = new ChildProcess({vrlbusdPath(), "--h4-socket", standIn_->path(), "--socket", socket, "--verbose",
                                "--command-timeout", "60000", "--client-buffer", "131072"},
                               {}, daemonLog());
    ASSERT_TRUE(waitForSocket(socket, 5000));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bluez_->address().c_str(), 1);
    ::setenv("UTILS_BUS_SOCKET", socket.c_str(), 1);
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
    delete standIn_;
    delete bluez_;
    delete folder_;
  }
  void TearDown() override {
    {
      std::lock_guard lock(gMutex);
      gGateOpen = true;
    }
    gChanged.notify_all();
    UTIL_BT_Uninitialize();
    (void)bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText});
    std::lock_guard lock(gMutex);
    gCalls.clear();
  }

  // The controller cannot tell its version (unknown command), so the library
  // keeps nothing and asks again each time it reads the radio's information.
  static H4StandIn::Rule versionRule() { return {H4StandIn::Answer::kComplete, 0x01, {}, {}, {}}; }
  static std::string debugLog() { return folder_->path() + "/debug.log"; }
  static std::string daemonLog() { return folder_->path() + "/vrlbusd.log"; }
  static uint64_t eventsRead() {
    return static_cast<linuxport::LinuxNotification*>(port::platform().notification)->eventsRead();
  }
  static bool waitForEventsRead(uint64_t count) {
    return pollUntil([count] { return eventsRead() >= count; });
  }
  static void closeGate() {
    std::lock_guard lock(gMutex);
    gGateOpen = false;
  }
  static void openGate() {
    {
      std::lock_guard lock(gMutex);
      gGateOpen = true;
    }
    gChanged.notify_all();
  }

  static TempFolder* folder_;
  static MockBluez* bluez_;
  static H4StandIn* standIn_;
  static ChildProcess* daemon_;
};

TempFolder* NotificationOrderTest::folder_ = nullptr;
MockBluez* NotificationOrderTest::bluez_ = nullptr;
H4StandIn* NotificationOrderTest::standIn_ = nullptr;
ChildProcess* NotificationOrderTest::daemon_ = nullptr;

TEST_F(NotificationOrderTest, ConnectionAndSignalEventsKeepTheirOrderWhileACallbackIsBusy) {
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  closeGate();
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitUntil([] { return gInCall; })) << "no callback for the connection";

  // While the callback holds its thread, the two sources take turns; each
  // event is taken in before the next one is sent.
  uint64_t read = eventsRead();
  const std::vector<std::function<void()>> steps = {
      [] { standIn_->sendRaw(signalEvent(0, -50)); },
      [] {
        ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
      },
      [] { standIn_->sendRaw(signalEvent(0, -75)); },
      [] {
        ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
      },
      [] { standIn_->sendRaw(signalEvent(2, -75)); },
  };
  for (const auto& step : steps) {
    step();
    ASSERT_TRUE(waitForEventsRead(++read)) << readFileText(daemonLog());
  }
  openGate();
  ASSERT_TRUE(waitUntil([] { return gCalls.size() >= 6 && !gInCall; })) << gCalls.size();
  std::lock_guard lock(gMutex);
  EXPECT_EQ((Calls{{1, 6}, {1, 5}, {0, 0}, {0, 3}, {1, 6}, {0, 0}}), gCalls);
}

TEST_F(NotificationOrderTest, WhatArrivesDuringInitializeIsDeliveredAfterItInOrder) {
  // The initialise asks vrlbusd for the controller's version twice: once
  // before the radio's events are subscribed, once after. The stand-in holds
  // both answers while the test sends events.
  standIn_->setRule(0x1001, {H4StandIn::Answer::kHold, 0, {}, {}, {}});
  const size_t commandsBefore = standIn_->commands().size();
  const size_t linesBefore = countOf(readFileText(debugLog()), "Notification\n");
  std::thread initialize([] { UTIL_BT_Initialize(kWatched); });

  ASSERT_TRUE(standIn_->waitForCommands(commandsBefore + 1, kLongWaitMs));
  uint64_t read = eventsRead();
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitForEventsRead(++read));
  ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitForEventsRead(++read));
  standIn_->release();

  ASSERT_TRUE(standIn_->waitForCommands(commandsBefore + 2, kLongWaitMs));
  standIn_->setRule(0x1001, versionRule());
  standIn_->sendRaw(signalEvent(0, -50));
  ASSERT_TRUE(waitForEventsRead(++read));
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitForEventsRead(++read));
  standIn_->release();
  initialize.join();

  const auto commands = standIn_->commands();
  for (size_t i = commandsBefore; i < commandsBefore + 2; ++i) {
    EXPECT_EQ((Bytes{0x01, 0x10, 0x00}), commands[i]) << "a version request held the initialise";
  }
  // Each event is handled once the initialise has let go, in the order it came.
  ASSERT_TRUE(pollUntil([&] { return countOf(readFileText(debugLog()), "Notification\n") >= linesBefore + 4; }))
      << readFileText(debugLog());
  const std::string log = readFileText(debugLog());
  std::vector<std::string> handled;
  for (size_t at = log.find("GUID_BLUETOOTH_HCI_"); at != std::string::npos;
       at = log.find("GUID_BLUETOOTH_HCI_", at + 1)) {
    handled.push_back(log.substr(at, log.find(' ', at) - at));
  }
  ASSERT_GE(handled.size(), 4u);
  EXPECT_EQ((std::vector<std::string>{"GUID_BLUETOOTH_HCI_EVENT", "GUID_BLUETOOTH_HCI_EVENT",
                                      "GUID_BLUETOOTH_HCI_VENDOR_EVENT", "GUID_BLUETOOTH_HCI_EVENT"}),
            std::vector<std::string>(handled.end() - 4, handled.end()))
      << log;
  EXPECT_NE(std::string::npos, log.find("rssi event status = 0, payloadLength = 8")) << log;

  // The service runs on as usual.
  RegisterNotification(record);
  ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitUntil([] { return !gCalls.empty(); }));
  std::lock_guard lock(gMutex);
  EXPECT_EQ((Calls{{0, 0}}), gCalls);
}

TEST_F(NotificationOrderTest, ACallbackThatDoesNotReturnHoldsABoundedBacklog) {
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  closeGate();
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitUntil([] { return gInCall; }));
  const uint64_t before = eventsRead();

  // Vendor events of the largest size that the service ignores (another
  // sub-event), until vrlbusd drops the subscription that is no longer read
  // (at 128 KiB waiting there): more than the backlog holds.
  Bytes ignored(258, 0x5A);
  ignored[0] = 0x04;
  ignored[1] = 0xFF;
  ignored[2] = 255;
  ignored[3] = 0x01;
  const std::string dropped = "not reading its answers, dropped";
  const std::string subscribed = "subscribed to vendor events";
  FileTail drops(daemonLog());
  FileTail subscriptions(daemonLog());
  for (int sent = 0; sent < 7000 && drops.count(dropped) == 0; ++sent) standIn_->sendRaw(ignored);
  ASSERT_TRUE(pollUntil([&] { return drops.count(dropped) > 0; }))
      << "vrlbusd never found the library's subscription full";
  EXPECT_EQ(before + linuxport::WindowSources::kMostWaiting, eventsRead()) << "reading stops at the backlog's bound";

  // The callback returns: the backlog is delivered, the subscription is made
  // again, and new events come through.
  const size_t subscribedBefore = subscriptions.count(subscribed);
  openGate();
  ASSERT_TRUE(pollUntil([&] { return subscriptions.count(subscribed) > subscribedBefore; }));
  standIn_->sendRaw(signalEvent(0, -50));
  ASSERT_TRUE(waitUntil([] { return gCalls.size() >= 2; })) << "read after the bound: " << eventsRead() - before;
  std::lock_guard lock(gMutex);
  EXPECT_EQ((Calls{{1, 6}, {1, 5}}), gCalls);
}

// A callback that stops the service from within: the window's own thread
// ends its threads without waiting for itself, and nothing more is delivered.
DWORD stopFromWithin(DWORD connected, DWORD level) {
  UTIL_BT_Uninitialize();
  return record(connected, level);
}

TEST_F(NotificationOrderTest, ACallbackThatStopsTheServiceEndsItCleanly) {
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(stopFromWithin);
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitUntil([] { return !gCalls.empty() && !gInCall; }));
  standIn_->sendRaw(signalEvent(0, -50));
  ASSERT_TRUE(bluez_->mock("DisconnectDevice", {"string:hci0", kWatchedText}));
  // A service started again afterwards works as before.
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  ASSERT_TRUE(bluez_->mock("ConnectDevice", {"string:hci0", kWatchedText}));
  ASSERT_TRUE(waitUntil([] { return gCalls.size() >= 2 && !gInCall; }));
  std::lock_guard lock(gMutex);
  EXPECT_EQ((Calls{{1, 6}, {1, 6}}), gCalls) << "nothing reached the stopped service";
}

}  // namespace
}  // namespace utils::test
