// The dial-up adapter on RAS, SetupAPI and kernel events, and the dial-up
// functions over it, on a system without phones or RAS connections (Wine, whose
// RAS is mostly stubs: see the comments). The logic behind what Wine cannot do
// is covered on the simulated ports.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "port/platform.h"
#include "port/win32/ras_dialup.h"
#include "port/win32/win32_platform.h"
#include "utils/dialup.h"
#include "wine_detect.h"

namespace {

class Win32DialupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!utils::testing::runningUnderWine()) GTEST_SKIP() << "expects a system without phones, as Wine is";
    utils::win32port::installNativePlatform();
  }
  utils::win32port::Win32Dialup dialup_;
};

TEST_F(Win32DialupTest, NoModemsAndNoConnections) {
  std::vector<utils::port::ModemDevice> modems{{}};
  EXPECT_EQ(0u, dialup_.listModems(512, &modems));
  EXPECT_TRUE(modems.empty());
  std::vector<utils::port::ActiveConnection> connections{{}};
  EXPECT_EQ(0u, dialup_.listConnections(&connections));
  EXPECT_TRUE(connections.empty());
}

TEST_F(Win32DialupTest, EventsSignalResetAndClose) {
  HANDLE event = nullptr;
  ASSERT_EQ(0u, dialup_.createEvent(&event));
  ASSERT_NE(nullptr, event);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), dialup_.waitEvent(event, 0)) << "created not signalled";
  EXPECT_EQ(0u, dialup_.setEvent(event));
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), dialup_.waitEvent(event, INFINITE));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), dialup_.waitEvent(event, 0)) << "auto-reset";
  EXPECT_EQ(0u, dialup_.setEvent(event));
  EXPECT_EQ(0u, dialup_.resetEvent(event));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), dialup_.waitEvent(event, 0));
  // Another thread is released by a signal.
  std::thread waiter([&] { EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), dialup_.waitEvent(event, 10000)); });
  EXPECT_EQ(0u, dialup_.setEvent(event));
  waiter.join();
  EXPECT_EQ(0u, dialup_.closeEvent(event));
  EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), dialup_.waitEvent(event, 0)) << "a closed event cannot be waited on";
}

// Wine's RAS: the default entry reads as success with the record untouched, a
// dial fails with 1, and the status of any connection reads as success, so a
// hang-up wait never sees the connection go.
TEST_F(Win32DialupTest, WinesRasStubs) {
  utils::port::PhonebookEntry entry;
  ASSERT_EQ(0u, dialup_.readDefaultEntry(&entry));
  EXPECT_EQ(utils::win32port::kRasEntrySize, entry.platformRecord.size());
  utils::port::DialConnection connection = nullptr;
  EXPECT_NE(0u, dialup_.dial(L"Phone", L"*99#", nullptr, &connection));
  EXPECT_EQ(nullptr, connection);
  utils::port::ConnectionStatus status;
  EXPECT_EQ(0u, dialup_.getStatus(reinterpret_cast<HANDLE>(0x1234), &status));
}

std::atomic<int> gCalls{0};
std::atomic<int> gLastValue{-1};
void UTILS_DUN_CALLBACK countCalls(BYTE connected) {
  gLastValue = connected;
  ++gCalls;
}

// Dispatches the calling thread's messages until none is left.
void pumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

class Win32DunExportsTest : public Win32DialupTest {
 protected:
  void SetUp() override {
    Win32DialupTest::SetUp();
    if (IsSkipped()) return;
    gCalls = 0;
    gLastValue = -1;
    DunInitialize(0x0019A1B2C3D4ULL);
    ASSERT_EQ(0u, DunRegisterNotification(countCalls));
  }
  void TearDown() override { DunUninitialize(); }
};

// Dial progress posted to the window reaches the callback on the window's
// thread; a dial that cannot start reports 0; a second set-up keeps one window.
TEST_F(Win32DunExportsTest, TheWindowCarriesProgressAndAFailedDialReportsZero) {
  EXPECT_EQ(9u, DunRegisterNotification(nullptr));
  const HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"rasConnect", nullptr);
  ASSERT_NE(nullptr, window);
  const UINT dialEvent = RegisterWindowMessageA("RasDialEvent");
  PostMessageW(window, dialEvent, 3, 0);  // the modem link is up
  pumpMessages();
  EXPECT_EQ(1, gLastValue.load());
  PostMessageW(window, dialEvent, 0x2000, 651);  // an error ends the dial
  pumpMessages();
  EXPECT_EQ(0, gLastValue.load());
  gLastValue = -1;
  EXPECT_FALSE(DunConnect());
  EXPECT_EQ(0, gLastValue.load());
  EXPECT_EQ(3, gCalls.load()) << "one call for each";

  DunInitialize(0x0019A1B2C3D4ULL);
  pumpMessages();  // the earlier window is closed on its thread
  size_t windows = 0;
  for (HWND found = nullptr; (found = FindWindowExW(HWND_MESSAGE, found, L"rasConnect", nullptr)) != nullptr;) {
    ++windows;
  }
  EXPECT_EQ(1u, windows);
  DunUninitialize();
  pumpMessages();
  EXPECT_EQ(nullptr, FindWindowExW(HWND_MESSAGE, nullptr, L"rasConnect", nullptr));
}

// Wine never lets a hung-up connection go: DunUninitialize ends the wait at
// once, without the callback, instead of leaving the thread polling.
TEST_F(Win32DunExportsTest, UninitializeEndsAHangUpThatNeverCompletes) {
  const auto started = std::chrono::steady_clock::now();
  DunDisConnect();
  DunUninitialize();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(0, gCalls.load());
}

}  // namespace
