// The notification service on the simulated platform: a radio that knows the
// watched device, a bus driver that answers the signal-strength command (and,
// when asked, sends the signal event a radio would send back), and a record of
// every callback.
#pragma once

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "radio/bus_requests.h"
#include "radio/notification_state.h"
#include "radio_fixture.h"
#include "utils/notification.h"

namespace utils::test {

inline constexpr ULONGLONG kWatched = 0x001122334455ULL;
inline constexpr ULONGLONG kStranger = 0x001122334456ULL;

struct NotifyCall {
  DWORD connected = 0;
  DWORD level = 0;
  DWORD flagDuringCall = 0;  // the service's connected flag while the callback ran
  bool lockHeld = false;     // the notification lock was held by the calling thread
};

// The callback is a plain function: its record is process-wide.
inline std::mutex gNotifyMutex;
inline std::vector<NotifyCall> gNotifyCalls;

inline DWORD recordNotification(DWORD connected, DWORD level) {
  auto& s = radio::notify::serviceState();
  // Held by this thread: another thread cannot take it.
  bool held = false;
  std::thread([&s, &held] {
    held = !s.lock.try_lock();
    if (!held) s.lock.unlock();
  }).join();
  std::lock_guard lock(gNotifyMutex);
  gNotifyCalls.push_back(NotifyCall{connected, level, s.connected.load(), held});
  return 0;
}

class NotificationTest : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    takeCalls();
    sim_.radio.addDevice(kWatched, {});
    sim_.radio.setDeviceFlags(kWatched, false, true);
    sim_.bus.setAnswer([this](const sim::SimBus::Request& request, BYTE* out) { return answer(request, out); });
  }
  void TearDown() override {
    UTIL_BT_Uninitialize();
    RegisterNotification(nullptr);
    EXPECT_EQ(0u, sim_.notification.threadsRunning()) << "a polling thread outlived the service";
    EXPECT_EQ(0u, sim_.notification.windowCount()) << "a window outlived the service";
    EXPECT_EQ(0u, sim_.notification.registrationCount()) << "a registration outlived the service";
    RadioTest::TearDown();
  }

  // Starts the service for the watched device with the recording callback and
  // lets the polling thread reach its first wait.
  void start(ULONGLONG address = kWatched) {
    UTIL_BT_Initialize(address);
    RegisterNotification(recordNotification);
    ASSERT_TRUE(sim_.notification.settle());
  }

  static std::vector<NotifyCall> takeCalls() {
    std::lock_guard lock(gNotifyMutex);
    std::vector<NotifyCall> calls;
    calls.swap(gNotifyCalls);
    return calls;
  }
  static std::vector<std::pair<DWORD, DWORD>> takeArguments() {
    std::vector<std::pair<DWORD, DWORD>> result;
    for (const auto& call : takeCalls()) result.emplace_back(call.connected, call.level);
    return result;
  }

  // The virtual times at which signal-strength commands reached the bus driver.
  std::vector<uint64_t> pollTimes() const {
    std::lock_guard lock(pollMutex_);
    return pollTimes_;
  }
  // Moves virtual time on one second at a time up to ms, delivering the radio's
  // answers as they come.
  void runUntil(uint64_t ms) {
    while (sim_.clock.monotonicMs() < ms) {
      ASSERT_TRUE(sim_.notification.advance(1000));
      sim_.notification.pump();
    }
  }
  // The radio answers the next commands with this Command Complete status, and
  // (status 0) sends a signal event with dbm afterwards when it is set.
  void radioAnswers(BYTE status, std::optional<int8_t> dbm) {
    std::lock_guard lock(pollMutex_);
    commandStatus_ = status;
    answerDbm_ = dbm;
  }

  radio::notify::ServiceState& state() const { return radio::notify::serviceState(); }

 private:
  DWORD answer(const sim::SimBus::Request& request, BYTE* out) {
    if (request.code != radio::kIoctlVendorHciCommand || request.input.size() < 8) return 0;
    const WORD opcode = static_cast<WORD>(request.input[6] | request.input[7] << 8);
    std::lock_guard lock(pollMutex_);
    pollTimes_.push_back(sim_.clock.monotonicMs());
    sim::writeCommandComplete(out, request.outputSize, opcode, commandStatus_);
    if (commandStatus_ == 0 && answerDbm_) sim_.notification.postSignalEvent(0, kWatched, *answerDbm_);
    return 0;
  }

  mutable std::mutex pollMutex_;
  std::vector<uint64_t> pollTimes_;
  BYTE commandStatus_ = 0;
  std::optional<int8_t> answerDbm_;
};

}  // namespace utils::test
