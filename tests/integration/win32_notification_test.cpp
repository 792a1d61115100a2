// The notification port on Windows (under Wine): message-only windows, device
// change records decoded from WM_DEVICECHANGE, the wake event and threads, and
// the notification service on top of them, driven by records sent to its window.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <dbt.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <vector>

#include "port/platform.h"
#include "port/win32/notification_window.h"
#include "port/win32/win32_platform.h"
#include "utils/notification.h"

namespace {

using utils::port::DeviceBroadcast;

class Recorder : public utils::port::MessageWindowHandler {
 public:
  bool onDeviceChange(DWORD event, const DeviceBroadcast* record) override {
    events.push_back(event);
    records.push_back(record != nullptr ? *record : DeviceBroadcast{0xFFFF, {}, {}});
    return true;
  }
  void onMessage(UINT message, WPARAM wParam, LPARAM) override {
    messages.push_back(message);
    params.push_back(wParam);
  }
  std::vector<DWORD> events;
  std::vector<DeviceBroadcast> records;
  std::vector<UINT> messages;
  std::vector<WPARAM> params;
};

// A DEV_BROADCAST_HANDLE with data bytes after its fixed part.
std::vector<BYTE> handleRecord(const GUID& eventGuid, const std::vector<BYTE>& data) {
  const size_t offset = offsetof(DEV_BROADCAST_HANDLE, dbch_data);
  std::vector<BYTE> bytes(offset + data.size());
  DEV_BROADCAST_HANDLE head{};
  head.dbch_size = static_cast<DWORD>(bytes.size());
  head.dbch_devicetype = DBT_DEVTYP_HANDLE;
  head.dbch_eventguid = eventGuid;
  std::memcpy(bytes.data(), &head, offset);
  std::memcpy(bytes.data() + offset, data.data(), data.size());
  return bytes;
}

TEST(Win32NotificationTest, RecordsAreDecodedFromDeviceChangeMessages) {
  static_assert(sizeof(DEV_BROADCAST_HANDLE) == 56);
  static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
  utils::win32port::Win32Notification port;
  Recorder recorder;
  HWND window = nullptr;
  ASSERT_EQ(0u, port.createWindow(L"utilsNotifyTest", &recorder, &window));
  HWND second = nullptr;
  ASSERT_EQ(0u, port.createWindow(L"utilsNotifyTest", &recorder, &second)) << "the class may exist already";
  EXPECT_EQ(0u, port.destroyWindow(second));

  const BYTE vendor[] = {0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0xC4};
  const auto vendorData = utils::port::vendorEventData(vendor, sizeof vendor);
  auto record = handleRecord(utils::port::kGuidBluetoothHciVendorEvent, vendorData);
  EXPECT_EQ(0, SendMessageW(window, WM_DEVICECHANGE, DBT_CUSTOMEVENT, reinterpret_cast<LPARAM>(record.data())));
  DEV_BROADCAST_DEVICEINTERFACE_W arrival{};
  arrival.dbcc_size = sizeof arrival;
  arrival.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  arrival.dbcc_classguid = utils::port::kGuidBthportDeviceInterface;
  SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&arrival));
  SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  // A handle record that is not a custom event carries no data.
  SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(record.data()));

  ASSERT_EQ(4u, recorder.records.size());
  EXPECT_EQ(static_cast<DWORD>(DBT_CUSTOMEVENT), recorder.events[0]);
  EXPECT_EQ(6u, recorder.records[0].deviceType);
  EXPECT_TRUE(utils::port::sameGuid(utils::port::kGuidBluetoothHciVendorEvent, recorder.records[0].guid));
  EXPECT_EQ(vendorData, recorder.records[0].data) << "exactly the bytes the record's size covers";
  EXPECT_EQ(5u, recorder.records[1].deviceType);
  EXPECT_TRUE(utils::port::sameGuid(utils::port::kGuidBthportDeviceInterface, recorder.records[1].guid));
  EXPECT_EQ(0xFFFFu, recorder.records[2].deviceType) << "no record";
  EXPECT_TRUE(recorder.records[3].data.empty());

  // Registered messages reach onMessage.
  const UINT dial = port.registerMessage("RasDialEvent");
  ASSERT_NE(0u, dial);
  EXPECT_EQ(dial, port.registerMessage("RasDialEvent"));
  SendMessageW(window, dial, 7, 0);
  ASSERT_EQ(1u, recorder.messages.size());
  EXPECT_EQ(7u, recorder.params[0]);

  EXPECT_EQ(0u, port.destroyWindow(window));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), port.destroyWindow(window));
  SendMessageW(window, WM_DEVICECHANGE, DBT_CUSTOMEVENT, reinterpret_cast<LPARAM>(record.data()));
  EXPECT_EQ(4u, recorder.records.size()) << "a destroyed window calls no handler";
}

TEST(Win32NotificationTest, WakeEventAndThread) {
  utils::win32port::Win32Notification port;
  std::unique_ptr<utils::port::WakeEvent> wake;
  ASSERT_EQ(0u, port.createWakeEvent(&wake));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), wake->wait(10));
  wake->signal();
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), wake->wait(10));
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), wake->wait(0)) << "auto-reset";

  std::atomic<int> ran{0};
  std::unique_ptr<utils::port::WorkerThread> thread;
  ASSERT_EQ(0u, port.startThread(
                    [&] {
                      wake->wait(INFINITE);
                      ran = 1;
                    },
                    &thread));
  EXPECT_FALSE(thread->isCurrent());
  wake->signal();
  thread->join();
  EXPECT_EQ(1, ran.load());
}

std::vector<std::pair<DWORD, DWORD>> gCalls;
DWORD recordCall(DWORD connected, DWORD level) {
  gCalls.emplace_back(connected, level);
  return 0;
}

TEST(Win32NotificationTest, TheServiceAnswersRecordsSentToItsWindow) {
  utils::win32port::installNativePlatform();
  constexpr BtAddr kWatched = 0x001122334455ULL;
  UTIL_BT_Initialize(kWatched);
  RegisterNotification(recordCall);
  const HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"rissNotify", nullptr);
  ASSERT_NE(nullptr, window);
  EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(window, nullptr)) << "the caller's thread owns it";

  auto connection = handleRecord(utils::port::kGuidBluetoothHciEvent, utils::port::hciEventInfoData(kWatched, 1, true));
  SendMessageW(window, WM_DEVICECHANGE, DBT_CUSTOMEVENT, reinterpret_cast<LPARAM>(connection.data()));
  const BYTE signal[] = {0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, static_cast<BYTE>(-72)};
  auto vendor =
      handleRecord(utils::port::kGuidBluetoothHciVendorEvent, utils::port::vendorEventData(signal, sizeof signal));
  SendMessageW(window, WM_DEVICECHANGE, DBT_CUSTOMEVENT, reinterpret_cast<LPARAM>(vendor.data()));
  // A length byte beyond the record: dropped.
  auto truncated = vendor;
  truncated[offsetof(DEV_BROADCAST_HANDLE, dbch_data) + 13] = 40;
  SendMessageW(window, WM_DEVICECHANGE, DBT_CUSTOMEVENT, reinterpret_cast<LPARAM>(truncated.data()));
  auto disconnection =
      handleRecord(utils::port::kGuidBluetoothHciEvent, utils::port::hciEventInfoData(kWatched, 1, false));
  SendMessageW(window, WM_DEVICECHANGE, DBT_CUSTOMEVENT, reinterpret_cast<LPARAM>(disconnection.data()));
  EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{1, 6}, {1, 3}, {0, 0}}), gCalls);

  UTIL_BT_Uninitialize();
  UTIL_BT_Uninitialize();
  EXPECT_EQ(nullptr, FindWindowExW(HWND_MESSAGE, nullptr, L"rissNotify", nullptr)) << "the window is gone";
}

}  // namespace
