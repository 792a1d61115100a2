// The polling thread in virtual time: its back-off, its resets, and its end.
#include "notification_fixture.h"

namespace utils::test {
namespace {

using Times = std::vector<uint64_t>;

class NotificationPollTest : public NotificationTest {
 protected:
  // The watched device is connected when the service starts.
  void startConnected() {
    sim_.radio.setDeviceFlags(kWatched, true, true);
    start();
    sim_.notification.pump();  // the answer to the first command
  }
};

TEST_F(NotificationPollTest, CommandBytesAndResultsOfSendRssiCmd) {
  radioAnswers(0, std::nullopt);
  start();
  EXPECT_EQ(0u, radio::notify::SendRssiCmd());
  const auto requests = sim_.bus.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(
      (std::vector<BYTE>{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA}),
      requests[0].input);
  radioAnswers(1, std::nullopt);
  EXPECT_EQ(0xFFFFFFFFu, radio::notify::SendRssiCmd()) << "status 1: the controller does not know it";
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE*) { return DWORD{ERROR_INVALID_FUNCTION}; });
  EXPECT_EQ(0xFFFFFFFFu, radio::notify::SendRssiCmd());
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE*) { return DWORD{ERROR_IO_PENDING}; });
  EXPECT_EQ(997u, radio::notify::SendRssiCmd());
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE*) { return DWORD{ERROR_GEN_FAILURE}; });
  EXPECT_EQ(0xFFFFFFFEu, radio::notify::SendRssiCmd());
}

TEST_F(NotificationPollTest, ASteadyLevelBacksOffAndALevelChangeBringsOneSecondBack) {
  radioAnswers(0, -50);
  startConnected();
  runUntil(160000);
  EXPECT_EQ((Times{0, 1000, 5000, 21000, 85000, 149000}), pollTimes()) << "after 1, 4, 16, 64, 64 s";
  radioAnswers(0, -75);
  sim_.notification.postSignalEvent(0, kWatched, -75);
  sim_.notification.pump();
  // The change shows in the record at once but is seen by the next poll.
  runUntil(220000);
  EXPECT_EQ((Times{0, 1000, 5000, 21000, 85000, 149000, 213000, 214000, 218000}), pollTimes());
}

TEST_F(NotificationPollTest, AWakeBringsAPollAtOnceAndRestartsTheBackOff) {
  radioAnswers(0, -50);
  startConnected();
  runUntil(30000);  // polls at 0, 1, 5, 21 s; waiting 64 s
  // Another connection event for the connected device wakes the thread.
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.pump();
  ASSERT_TRUE(sim_.notification.settle());
  sim_.notification.pump();
  runUntil(60000);
  EXPECT_EQ((Times{0, 1000, 5000, 21000, 30000, 34000, 50000}), pollTimes());

  // A disconnection stops the polls (the thread still wakes once a second); a
  // reconnection polls at once, then after 1 s.
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, false);
  sim_.notification.pump();
  ASSERT_TRUE(sim_.notification.settle());
  const size_t waits = sim_.notification.waitsEnded();
  runUntil(70000);
  EXPECT_EQ(waits + 10, sim_.notification.waitsEnded());
  EXPECT_EQ(7u, pollTimes().size()) << "no command while disconnected";
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.pump();
  ASSERT_TRUE(sim_.notification.settle());
  sim_.notification.pump();
  runUntil(76000);
  const Times times = pollTimes();
  EXPECT_EQ((Times{70000, 71000, 75000}), Times(times.begin() + 7, times.end()));
}

// A woken polling thread posts the radio's answer while the test pumps the
// event that woke it. Whether the same pump delivered that answer used to depend
// on how far the thread had got, and so did the back-off the thread computed from
// the signal record it read right after its command. The simulation holds back
// what other threads post during a pump; what the pumping thread posts goes on.
constexpr DWORD kOwn = 0x7001;
constexpr DWORD kOther = 0x7002;

TEST(SimNotificationPump, WhatAnotherThreadPostsDuringAPumpWaitsForTheNextPump) {
  sim::SimClock clock;
  sim::SimNotification notification(clock);
  struct Recorder : port::MessageWindowHandler {
    explicit Recorder(sim::SimNotification& owner) : owner_(owner) {}
    bool onDeviceChange(DWORD event, const port::DeviceBroadcast*) override {
      seen.push_back(event);
      if (event == port::kDbtDeviceArrival) {
        owner_.postToWindows(kOwn, port::DeviceBroadcast{});
        std::thread([this] { owner_.postToWindows(kOther, port::DeviceBroadcast{}); }).join();
      }
      return true;
    }
    void onMessage(UINT, WPARAM, LPARAM) override {}
    sim::SimNotification& owner_;
    std::vector<DWORD> seen;
  } recorder(notification);
  HWND window = nullptr;
  ASSERT_EQ(0u, notification.createWindow(L"test", &recorder, &window));
  notification.postToWindows(port::kDbtDeviceArrival, port::DeviceBroadcast{});
  EXPECT_EQ(2u, notification.pump());
  EXPECT_EQ((std::vector<DWORD>{port::kDbtDeviceArrival, kOwn}), recorder.seen);
  EXPECT_EQ(1u, notification.pump());
  EXPECT_EQ(kOther, recorder.seen.back());
  EXPECT_EQ(0u, notification.destroyWindow(window));
}

TEST_F(NotificationPollTest, WithoutAValidSignalTheIntervalStaysAtOneSecond) {
  radioAnswers(0, std::nullopt);  // the radio never sends a signal event
  startConnected();
  runUntil(5000);
  EXPECT_EQ((Times{0, 1000, 2000, 3000, 4000, 5000}), pollTimes());
}

// Command Complete with status 1: the radio does not know the command, and the
// thread ends after its first. (A driver without the function ends it as well:
// integration_notification_order; other failures keep it polling: below.)
TEST_F(NotificationPollTest, ARadioThatDoesNotKnowTheCommandEndsTheThread) {
  radioAnswers(1, std::nullopt);
  startConnected();
  EXPECT_EQ(0u, sim_.notification.threadsRunning());
  EXPECT_EQ("[4][utils]VSC 0x0Fc59 not supported", messages().back());
  runUntil(3000);
  EXPECT_EQ(1u, sim_.bus.requests().size());
}

TEST_F(NotificationPollTest, FailedPollsKeepTheIntervalOfASteadyLevel) {
  radioAnswers(0, -50);
  startConnected();
  runUntil(5000);  // polls at 0, 1, 5 s; the next is 16 s away
  // The bus driver goes away for a while: the commands fail, the record still
  // holds the last answer, and the thread keeps asking at the same interval.
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE*) { return DWORD{ERROR_GEN_FAILURE}; });
  runUntil(60000);
  EXPECT_EQ(6u, sim_.bus.requests().size()) << "failed polls at 21, 37 and 53 s";
}

TEST_F(NotificationPollTest, NoRadioEndsTheThread) {
  BLUETOOTH_RADIO_INFO details{};  // a radio whose company identifier is unknown
  sim_.radio.setRadioDetails(details);
  start();
  EXPECT_EQ(0u, radio::cachedManufacturer());
  sim_.radio.setRadio(0, false);
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.pump();
  ASSERT_TRUE(sim_.notification.settle());
  EXPECT_EQ(0u, sim_.notification.threadsRunning());
  EXPECT_EQ("[4][utils]VSC 0x0Fc59 not supported", messages().back());
  EXPECT_TRUE(sim_.bus.requests().empty());
}

}  // namespace
}  // namespace utils::test
