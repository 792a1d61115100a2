// The notification service on real Linux components: BlueZ mocked by
// python3-dbusmock on a private system bus and vrlbusd --emulate as the bus
// driver, whose controller emulator answers every signal-strength command with
// a vendor event and varies the signal through every level.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "radio_test_env.h"
#include "utils/notification.h"

namespace utils::test {
namespace {

constexpr BtAddr kWatched = 0x112233445501ULL;
constexpr const char* kWatchedText = "11:22:33:44:55:01";

struct Call {
  DWORD connected = 0;
  DWORD level = 0;
  std::thread::id thread;
};

CallLog<Call> gCalls;

DWORD record(DWORD connected, DWORD level) {
  gCalls.add(Call{connected, level, std::this_thread::get_id()});
  return 0;
}

constexpr const char* kRegistered = "register device custom notification. m_hDevNotify = 0x";

class NotificationBluezTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram(vrlbusdPath());
    daemon_ = new EmulatedBusDaemon({"--manufacturer", "0x1D"});
    session_ = new BluezSession(daemon_->socketPath());
    ASSERT_TRUE(session_->addDevice(kWatchedText, "Phone"));
    ASSERT_TRUE(session_->addDevice("11:22:33:44:55:02", "Other"));
  }
  static void TearDownTestSuite() {
    UTIL_BT_Uninitialize();
    delete session_;
    delete daemon_;
  }
  static std::string debugLog() { return session_->debugLog(); }

  static BluezSession* session_;
  static EmulatedBusDaemon* daemon_;
};

BluezSession* NotificationBluezTest::session_ = nullptr;
EmulatedBusDaemon* NotificationBluezTest::daemon_ = nullptr;

TEST_F(NotificationBluezTest, FollowsTheDeviceThroughConnectionSignalAndRadioChanges) {
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  ASSERT_EQ(1u, countOf(readFileText(debugLog()), kRegistered)) << readFileText(debugLog());

  // Another device's connection is not reported.
  ASSERT_TRUE(session_->connect("11:22:33:44:55:02"));
  ASSERT_TRUE(session_->connect(kWatchedText));
  auto calls = gCalls.waitFor([](const Call& call) { return call.connected == 1 && call.level == 6; }, 5000);
  ASSERT_EQ(1u, calls.size()) << "the connection comes first and alone";
  EXPECT_NE(std::this_thread::get_id(), calls[0].thread) << "callbacks run on the library's event thread";
  const std::thread::id eventThread = calls[0].thread;

  // The polling thread asks once a second while the level changes; the
  // emulator's answers go through every level.
  std::set<DWORD> levels;
  calls = gCalls.waitFor(
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

  ASSERT_TRUE(session_->connect(kWatchedText, false));
  calls = gCalls.waitFor([](const Call& call) { return call.connected == 0; }, 5000);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(0u, calls.back().level);

  // The radio goes away: its registration is dropped; it comes back: renewed.
  ASSERT_TRUE(session_->bluez.mock("RemoveAdapter", {"string:hci0"}));
  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
  waitUntil([] { return countOf(readFileText(debugLog()), kRegistered) >= 2; }, 5000);
  const std::string log = readFileText(debugLog());
  EXPECT_EQ(1u, countOf(log, "OnDbtDeviceTypeInterface REMOVED")) << log;
  EXPECT_EQ(1u, countOf(log, "OnDbtDeviceTypeInterface ARRIVAL")) << log;
  EXPECT_EQ(2u, countOf(log, kRegistered)) << log;
  EXPECT_LT(log.find("OnDbtDeviceTypeInterface REMOVED"), log.find("OnDbtDeviceTypeInterface ARRIVAL"));

  // The renewed registration delivers: the device connects again.
  ASSERT_TRUE(session_->connect(kWatchedText));
  calls = gCalls.waitFor([](const Call& call) { return call.connected == 1 && call.level == 6; }, 5000);
  ASSERT_FALSE(calls.empty());

  UTIL_BT_Uninitialize();
  gCalls.take();
  // Nothing is reported once the service has stopped.
  ASSERT_TRUE(session_->connect(kWatchedText, false));
  EXPECT_TRUE(gCalls.waitFor([](const Call&) { return true; }, 500).empty());
}

TEST_F(NotificationBluezTest, AStartWithTheDeviceConnectedPollsAtOnceAndSurvivesABusDaemonRestart) {
  ASSERT_TRUE(session_->connect(kWatchedText));
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(record);
  auto calls = gCalls.waitFor([](const Call& call) { return call.connected == 1 && call.level <= 5; }, 5000);
  ASSERT_FALSE(calls.empty()) << "a signal level without a connection event";

  // vrlbusd goes away and another takes its place on the same socket: the
  // events come again.
  daemon_->process().stop();
  ChildProcess replacement({vrlbusdPath(), "--emulate", "--socket", daemon_->socketPath(), "--manufacturer", "0x1D"},
                           {}, session_->folder.path() + "/vrlbusd-replacement.log");
  ASSERT_TRUE(waitForSocket(daemon_->socketPath(), 5000));
  gCalls.take();
  // The event subscription is renewed within a second; an answer that comes
  // before it is missed, and the next poll may then be 4 s away.
  calls = gCalls.waitFor([](const Call& call) { return call.connected == 1 && call.level <= 5; }, 20000);
  EXPECT_FALSE(calls.empty()) << "no signal after the bus daemon came back";
  UTIL_BT_Uninitialize();
  replacement.stop();
  delete daemon_;
  daemon_ = new EmulatedBusDaemon({"--manufacturer", "0x1D"});
  ASSERT_TRUE(session_->connect(kWatchedText, false));
}

TEST_F(NotificationBluezTest, BtutilWatchPrintsEachNotification) {
  const std::string output = session_->folder.path() + "/watch.txt";
  const std::string trace = session_->folder.path() + "/watch-debug.log";
  ChildProcess watch({UTILS_BTUTIL_PATH, "watch", "11:22:33:44:55:01", "--seconds", "30"},
                     {{"UTILS_BUS_SOCKET", daemon_->socketPath()}, {"UTILS_DEBUG_OUTPUT", trace}}, output);
  ASSERT_TRUE(waitForText(output, " watching 11:22:33:44:55:01 for 30 s")) << readFileText(output);
  ASSERT_TRUE(session_->connect(kWatchedText));
  ASSERT_TRUE(waitForText(output, " connected=1 level=6\n")) << readFileText(output);
  // Signal levels follow, one per answer of the radio emulator.
  const auto levelLines = [&output] {
    size_t lines = 0;
    for (char level = '0'; level <= '5'; ++level)
      lines += countOf(readFileText(output), std::string(" connected=1 level=") + level + "\n");
    return lines;
  };
  EXPECT_TRUE(waitUntil([&] { return levelLines() >= 2; }, 10000)) << readFileText(output) << readFileText(trace);
  ASSERT_TRUE(session_->connect(kWatchedText, false));
  ASSERT_TRUE(waitForText(output, " connected=0 level=0\n")) << readFileText(output);
  EXPECT_EQ(0, watch.stop()) << "SIGTERM ends the watch cleanly";
  EXPECT_NE(std::string::npos, readFileText(output).find(" stopped\n"));
}

}  // namespace
}  // namespace utils::test
