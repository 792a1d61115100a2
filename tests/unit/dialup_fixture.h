// The dial-up context on the simulated platform: a radio that knows the phone
// by name, the phone's modem, a scripted dialler, and a record of every
// callback with the thread it ran on.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "radio_fixture.h"
#include "utils/dialup.h"

namespace utils::test {

inline constexpr ULONGLONG kPhone = 0x0019A1B2C3D4ULL;
inline const std::wstring kPhoneName = L"Tally Phone";
inline const std::wstring kModemName = L"Standard Modem over Bluetooth link (COM7)";

struct DunCall {
  BYTE connected = 0;
  std::thread::id thread;
};

// The callback is a plain function: its record and its optional reaction are
// process-wide.
inline std::mutex gDunMutex;
inline std::vector<DunCall> gDunCalls;
inline std::function<void(BYTE)> gDunReaction;

inline void UTILS_DUN_CALLBACK recordDun(BYTE connected) {
  std::function<void(BYTE)> reaction;
  {
    std::lock_guard lock(gDunMutex);
    gDunCalls.push_back(DunCall{connected, std::this_thread::get_id()});
    reaction = gDunReaction;
  }
  if (reaction) reaction(connected);
}

inline void UTILS_DUN_CALLBACK otherDun(BYTE) {}

class DunTest : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    // The dial event message is registered once per process: make it the same
    // number in every test's simulation.
    sim_.notification.registerMessage("RasDialEvent");
    takeCalls();
    setReaction(nullptr);
    sim_.radio.addDevice(kPhone, {});
    sim_.radio.setDeviceName(kPhone, u"Tally Phone");
    sim_.dialup.addModem(L"0019A1B2C3D4", kModemName);
  }
  void TearDown() override {
    setReaction(nullptr);
    DunUninitialize();
    EXPECT_EQ(0u, sim_.notification.threadsRunning()) << "a thread outlived DunUninitialize";
    EXPECT_EQ(0u, sim_.notification.windowCount()) << "a window outlived DunUninitialize";
    EXPECT_EQ(0u, sim_.dialup.openEvents()) << "an event outlived DunUninitialize";
    RadioTest::TearDown();
  }

  // Sets up the context for the phone with the recording callback.
  void start() {
    DunInitialize(kPhone);
    ASSERT_EQ(0u, DunRegisterNotification(recordDun));
    ASSERT_TRUE(sim_.notification.settle());
  }
  // Starts a dial and returns its connection.
  port::DialConnection dial() {
    EXPECT_TRUE(DunConnect());
    const auto dials = sim_.dialup.dials();
    return dials.empty() ? nullptr : dials.back().connection;
  }
  // Delivers the posted dial progress and lets every thread reach its wait.
  void deliver() {
    sim_.notification.pump();
    ASSERT_TRUE(sim_.notification.settle());
  }
  // A dial that reached the modem link: the monitor runs.
  port::DialConnection dialToMonitoring() {
    const port::DialConnection connection = dial();
    sim_.dialup.step(port::kRasDeviceConnected);
    deliver();
    return connection;
  }

  static void setReaction(std::function<void(BYTE)> reaction) {
    std::lock_guard lock(gDunMutex);
    gDunReaction = std::move(reaction);
  }
  static std::vector<DunCall> takeCalls() {
    std::lock_guard lock(gDunMutex);
    std::vector<DunCall> calls;
    calls.swap(gDunCalls);
    return calls;
  }
  static std::vector<int> takeValues() {
    std::vector<int> values;
    for (const auto& call : takeCalls()) values.push_back(call.connected);
    return values;
  }
};

}  // namespace utils::test
