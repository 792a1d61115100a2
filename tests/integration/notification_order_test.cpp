// The order of the notification service's events on real Linux components:
// BlueZ mocked on a private bus, vrlbusd driving a stand-in controller that the
// test makes send vendor events. Connection changes from BlueZ and signal
// events from vrlbusd reach the callback in the order they came, also while a
// callback is busy; what arrives while UTIL_BT_Initialize sets up is delivered
// after it; a callback that does not return holds a bounded backlog; a radio
// that refuses the signal command ends the polling thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "h4_standin.h"
#include "port/linux/notification_sources.h"
#include "port/linux/notification_window.h"
#include "port/platform.h"
#include "radio_test_env.h"
#include "utils/notification.h"
#include "utils/radio.h"

namespace utils::test {
namespace {

using Calls = std::vector<std::pair<DWORD, DWORD>>;

constexpr BtAddr kWatched = 0x112233445501ULL;
constexpr const char* kWatchedText = "11:22:33:44:55:01";
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
bool waitForCalls(Condition condition, int timeoutMs = kLongWaitMs) {
  std::unique_lock lock(gMutex);
  return gChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), condition);
}

// A signal event (vendor sub-event 0x8E) for the watched device as an H4 packet.
Bytes signalEvent(uint8_t status, int8_t dbm) {
  return {0x04, 0xFF, 9, 0x8E, status, 0x11, 0x22, 0x33, 0x44, 0x55, 0x01, static_cast<uint8_t>(dbm)};
}

class NotificationOrderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram(vrlbusdPath());
    session_ = new BluezSession("");
    ASSERT_TRUE(session_->addDevice(kWatchedText, "Phone"));
    standIn_ = new H4StandIn(session_->folder.path() + "/controller.sock");
    standIn_->setRule(0xFC59, {H4StandIn::Answer::kComplete, 0, {}, {}, {}});
    standIn_->setRule(0x1001, versionRule());
    // Polls are answered without an event (TearDown sets the rules): every
    // signal event comes from the test.
    const std::string socket = session_->folder.path() + "/bus.sock";
    daemon_ = new ChildProcess({vrlbusdPath(), "--h4-socket", standIn_->path(), "--socket", socket, "--verbose",
                                "--command-timeout", "60000", "--client-buffer", "131072"},
                               {}, daemonLog());
    ASSERT_TRUE(waitForSocket(socket, 5000));
    ::setenv("UTILS_BUS_SOCKET", socket.c_str(), 1);
  }
  static void TearDownTestSuite() {
    UTIL_BT_Uninitialize();
    delete daemon_;
    delete standIn_;
    delete session_;
  }
  void TearDown() override {
    openGate();
    UTIL_BT_Uninitialize();
    standIn_->setRule(0xFC59, {H4StandIn::Answer::kComplete, 0, {}, {}, {}});
    standIn_->setRule(0x1001, versionRule());
    (void)mock("DisconnectDevice");
    std::lock_guard lock(gMutex);
    gCalls.clear();
  }

  // The controller cannot tell its version (unknown command), so the library
  // keeps nothing and asks again each time it reads the radio's information.
  static H4StandIn::Rule versionRule() { return {H4StandIn::Answer::kComplete, 0x01, {}, {}, {}}; }
  static std::string debugLog() { return session_->debugLog(); }
  static std::string daemonLog() { return session_->folder.path() + "/vrlbusd.log"; }
  static bool mock(const char* method) {
    return session_->bluez.mock(method, {"string:hci0", std::string("string:") + kWatchedText});
  }
  static uint64_t eventsRead() {
    return static_cast<linuxport::LinuxNotification*>(port::platform().notification)->eventsRead();
  }
  static bool waitForEventsRead(uint64_t count) {
    return waitUntil([count] { return eventsRead() >= count; });
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

  static BluezSession* session_;
  static H4StandIn* standIn_;
  static ChildProcess* daemon_;
};

BluezSession* NotificationOrderTest::session_ = nullptr;
H4StandIn* NotificationOrderTest::standIn_ = nullptr;
ChildProcess* NotificationOrderTest::daemon_ = nullptr;

TEST_F(NotificationOrderTest, WhileACallbackIsBusyEventsKeepTheirOrderInABoundedBacklog) {
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  closeGate();
  ASSERT_TRUE(mock("ConnectDevice"));
  ASSERT_TRUE(waitForCalls([] { return gInCall; })) << "no callback for the connection";

  // While the callback holds its thread, the two sources take turns; each
  // event is taken in before the next one is sent.
  const uint64_t before = eventsRead();
  uint64_t read = before;
  const std::vector<std::function<void()>> steps = {
      [] { standIn_->sendRaw(signalEvent(0, -50)); }, [] {
        ASSERT_TRUE(mock("DisconnectDevice")); },
      [] { standIn_->sendRaw(signalEvent(0, -75)); }, [] {
        ASSERT_TRUE(mock("ConnectDevice")); },
      [] { standIn_->sendRaw(signalEvent(2, -75)); },
  };
  for (const auto& step : steps) {
    step();
    ASSERT_TRUE(waitForEventsRead(++read)) << readFileText(daemonLog());
  }

  // Then vendor events of the largest size that the service ignores (another
  // sub-event), until vrlbusd drops the subscription that is no longer read
  // (at 128 KiB waiting there): more than the backlog holds.
  Bytes subEvent(255, 0x5A);
  subEvent[0] = 0x01;
  const Bytes ignored = H4StandIn::event(0xFF, subEvent);
  const std::string dropped = "not reading its answers, dropped";
  const std::string subscribed = "subscribed to vendor events";
  const auto logged = [](const std::string& what) { return countOf(readFileText(daemonLog()), what); };
  for (int sent = 0; sent < 7000 && (sent % 64 != 0 || logged(dropped) == 0); ++sent) standIn_->sendRaw(ignored);
  ASSERT_TRUE(waitUntil([&] { return logged(dropped) > 0; })) << "vrlbusd never found the library's subscription full";
  EXPECT_EQ(before + linuxport::WindowSources::kMostWaiting, eventsRead()) << "reading stops at the backlog's bound";

  // The callback returns: the backlog is delivered in the order it came, the
  // subscription is made again, and new events come through.
  const size_t subscribedBefore = logged(subscribed);
  openGate();
  ASSERT_TRUE(waitUntil([&] { return logged(subscribed) > subscribedBefore; }));
  standIn_->sendRaw(signalEvent(0, -50));
  ASSERT_TRUE(waitForCalls([] { return gCalls.size() >= 7 && !gInCall; }))
      << "read after the bound: " << eventsRead() - before;
  std::lock_guard lock(gMutex);
  EXPECT_EQ((Calls{{1, 6}, {1, 5}, {0, 0}, {0, 3}, {1, 6}, {0, 0}, {0, 5}}), gCalls);
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
  ASSERT_TRUE(mock("ConnectDevice"));
  ASSERT_TRUE(waitForEventsRead(++read));
  ASSERT_TRUE(mock("DisconnectDevice"));
  ASSERT_TRUE(waitForEventsRead(++read));
  standIn_->release();

  ASSERT_TRUE(standIn_->waitForCommands(commandsBefore + 2, kLongWaitMs));
  standIn_->setRule(0x1001, versionRule());
  standIn_->sendRaw(signalEvent(0, -50));
  ASSERT_TRUE(waitForEventsRead(++read));
  ASSERT_TRUE(mock("ConnectDevice"));
  ASSERT_TRUE(waitForEventsRead(++read));
  standIn_->release();
  initialize.join();

  const auto commands = standIn_->commands();
  for (size_t i = commandsBefore; i < commandsBefore + 2; ++i) {
    EXPECT_EQ((Bytes{0x01, 0x10, 0x00}), commands[i]) << "a version request held the initialise";
  }
  // Each event is handled once the initialise has let go, in the order it came.
  ASSERT_TRUE(waitUntil([&] { return countOf(readFileText(debugLog()), "Notification\n") >= linesBefore + 4; }))
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
  ASSERT_TRUE(mock("DisconnectDevice"));
  ASSERT_TRUE(waitForCalls([] { return !gCalls.empty(); }));
  std::lock_guard lock(gMutex);
  EXPECT_EQ((Calls{{0, 0}}), gCalls);
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
  ASSERT_TRUE(mock("ConnectDevice"));
  ASSERT_TRUE(waitForCalls([] { return !gCalls.empty() && !gInCall; }));
  standIn_->sendRaw(signalEvent(0, -50));
  ASSERT_TRUE(mock("DisconnectDevice"));
  // A service started again afterwards works as before.
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  ASSERT_TRUE(mock("ConnectDevice"));
  ASSERT_TRUE(waitForCalls([] { return gCalls.size() >= 2 && !gInCall; }));
  std::lock_guard lock(gMutex);
  EXPECT_EQ((Calls{{1, 6}, {1, 6}}), gCalls) << "nothing reached the stopped service";
}

// Command Status "unknown HCI command" for the signal command: the exported
// command fails as not supported, and the polling thread learns it and ends
// instead of polling for ever.
TEST_F(NotificationOrderTest, ARadioWithoutTheSignalCommandEndsThePollingThread) {
  standIn_->setRule(0xFC59, {H4StandIn::Answer::kStatus, 0x01, {}, {}, {}});
  standIn_->setRule(0x1001, {H4StandIn::Answer::kComplete, 0, {0x0B, 0, 1, 0x0B, 0x1D, 0, 0x09, 0x22}, {}, {}});
  ASSERT_TRUE(mock("ConnectDevice"));
  const BYTE address[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x01};
  EXPECT_EQ(1u, SendRssiCmdWithAddr(address));
  const auto logged = [](const char* what, size_t times) {
    return waitUntil([&] { return countOf(readFileText(debugLog()), what) >= times; }, 10000);
  };
  const size_t unsupported = countOf(readFileText(debugLog()), "VSC 0x0Fc59 not supported");
  const size_t notified = countOf(readFileText(debugLog()), "GUID_BLUETOOTH_HCI_EVENT Notification");
  // Connected from the start: the thread polls at once, and ends.
  UTIL_BT_Initialize(kWatched);
  EXPECT_TRUE(logged("VSC 0x0Fc59 not supported", unsupported + 1)) << readFileText(debugLog());
  const size_t asked = standIn_->commands().size();
  // A disconnection and a connection wake a running thread at once; an ended
  // one sends nothing more.
  ASSERT_TRUE(mock("DisconnectDevice"));
  ASSERT_TRUE(mock("ConnectDevice"));
  EXPECT_TRUE(logged("GUID_BLUETOOTH_HCI_EVENT Notification", notified + 2)) << readFileText(debugLog());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(asked, standIn_->commands().size()) << "the polling thread still sends commands";
}

}  // namespace
}  // namespace utils::test
