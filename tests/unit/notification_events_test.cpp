// The notification service's set-up and its window handler: connection events,
// signal events, radio arrival and removal, the try-lock, and the order of the
// events: as they came, and what arrives while UTIL_BT_Initialize sets the
// service up delivered after it, not dropped.
#include <thread>

#include "notification_fixture.h"

namespace utils::test {
namespace {

using Calls = std::vector<std::pair<DWORD, DWORD>>;

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}

TEST_F(NotificationTest, ConnectionEventsOfTheWatchedDeviceReachTheCallback) {
  start();
  sim_.debugOutput.clear();
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  EXPECT_EQ(1u, sim_.notification.pump());
  auto calls = takeCalls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(1u, calls[0].connected);
  EXPECT_EQ(6u, calls[0].level);
  EXPECT_EQ(0u, calls[0].flagDuringCall) << "the flag is set after the callback";
  EXPECT_TRUE(calls[0].lockHeld);
  EXPECT_EQ(1u, state().connected.load());
  // The handler's line comes first; the polling thread, woken by the connection,
  // adds the lines of its first command after it.
  ASSERT_TRUE(sim_.notification.settle());
  const auto written = messages();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ("[4][utils]GUID_BLUETOOTH_HCI_EVENT Notification\n", written[0]);
  for (size_t i = 1; i < written.size(); ++i) {
    EXPECT_EQ(std::string::npos, written[i].find("Notification")) << written[i];
  }

  // A signal makes the record valid; the disconnection clears it: (0, 0).
  sim_.notification.postSignalEvent(0, kWatched, -50);
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, false);
  EXPECT_EQ(2u, sim_.notification.pump());
  EXPECT_EQ((Calls{{1, 5}, {0, 0}}), takeArguments());
  EXPECT_EQ(0u, state().connected.load());
  EXPECT_FALSE(radio::notify::signalValid(state().signal.load()));
  sim_.notification.postSignalEvent(0, kWatched, -75);
  sim_.notification.pump();
  EXPECT_EQ((Calls{{0, 3}}), takeArguments()) << "a signal after the disconnection: not connected";

  // Other devices, other link types and other GUIDs change nothing.
  sim_.notification.postConnection(kStranger, port::kHciConnectionTypeAcl, true);
  sim_.notification.postConnection(kWatched | 0x0100000000000000ULL, port::kHciConnectionTypeAcl, true);
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeSco, true);
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeLe, true);
  sim_.notification.postToWindows(port::kDbtCustomEvent,
                                  port::DeviceBroadcast{port::kDbtDevTypeHandle, port::kGuidBthportDeviceInterface,
                                                        port::hciEventInfoData(kWatched, 1, true)});
  // A connection record cut short is not read.
  sim_.notification.postToWindows(port::kDbtCustomEvent,
                                  port::DeviceBroadcast{port::kDbtDevTypeHandle, port::kGuidBluetoothHciEvent,
                                                        std::vector<BYTE>{0x55, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 1}});
  sim_.notification.postToWindows(port::kDbtCustomEvent, std::nullopt);
  sim_.notification.postToWindows(port::kDbtDeviceArrival,
                                  port::DeviceBroadcast{port::kDbtDevTypeHandle, port::kGuidBluetoothHciEvent,
                                                        port::hciEventInfoData(kWatched, 1, true)});
  sim_.notification.pump();
  EXPECT_TRUE(takeCalls().empty());
  EXPECT_EQ(0u, state().connected.load());
}

TEST_F(NotificationTest, SignalEventsGiveLevelsByTheirThresholdsMalformedOnesNothing) {
  start();
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.postSignalEvent(0, kWatched, -65);
  sim_.notification.pump();
  ASSERT_TRUE(sim_.notification.settle());  // the woken polling thread has made its command
  EXPECT_EQ((Calls{{1, 6}, {1, 4}}), takeArguments());
  const uint32_t record = state().signal.load();

  // Another device's signal, a payload of the wrong length, another sub-event:
  // the event's first lines and nothing else.
  const BYTE otherEvent[] = {0x8F, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0xC4};
  struct Ignored {
    std::vector<BYTE> payload;
    const char* lastLine;
  };
  for (const Ignored& row :
       {Ignored{{0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x56, 0xE2}, "rssi event status = 0, payloadLength = 8\n"},
        Ignored{{0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, "rssi event status = 0, payloadLength = 7\n"},
        Ignored{{std::begin(otherEvent), std::end(otherEvent)}, "OnDeviceCustomerEvent ARRIVAL ID = 0x8f\n"}}) {
    sim_.debugOutput.clear();
    sim_.notification.postVendorData(port::vendorEventData(row.payload.data(), row.payload.size()));
    sim_.notification.pump();
    EXPECT_EQ(std::string("[4][utils]") + row.lastLine, messages().back());
  }

  // A length byte that claims more parameters than the record holds: dropped
  // without reading past the end (AddressSanitizer would see it).
  sim_.debugOutput.clear();
  auto truncated = port::vendorEventData(otherEvent, sizeof otherEvent);
  truncated[14] = 0x8E;
  truncated[13] = 200;
  sim_.notification.postVendorData(truncated);
  // A length of 1 (the code alone), and records too short to hold the code.
  const BYTE codeOnly[] = {0x8E};
  sim_.notification.postVendorData(port::vendorEventData(codeOnly, 1));
  sim_.notification.postVendorData(std::vector<BYTE>(14, 0));
  sim_.notification.postVendorData({});
  sim_.notification.pump();
  const auto written = messages();
  EXPECT_TRUE(contains(written, "[4][utils]OnDeviceCustomerEvent length 200 exceeds the record (23 bytes).\n"));
  for (const auto& line : written) EXPECT_EQ(std::string::npos, line.find("rssi event")) << line;

  EXPECT_TRUE(takeCalls().empty());
  EXPECT_EQ(record, state().signal.load());
  EXPECT_EQ(1u, state().connected.load());

  const std::vector<std::pair<int8_t, DWORD>> table = {{127, 5},  {-60, 5},  {-61, 4}, {-70, 4}, {-71, 3},
                                                       {-80, 3},  {-81, 2},  {-90, 2}, {-91, 1}, {-100, 1},
                                                       {-101, 0}, {-128, 0}, {-40, 5}};
  Calls expected;
  for (const auto& [dbm, level] : table) {
    sim_.notification.postSignalEvent(0, kWatched, dbm);
    expected.emplace_back(1, level);
  }
  sim_.notification.pump();
  EXPECT_EQ(expected, takeArguments());

  sim_.debugOutput.clear();
  sim_.notification.postSignalEvent(0, kWatched, -75);
  sim_.notification.pump();
  EXPECT_EQ(
      (std::vector<std::string>{
          "[4][utils]GUID_BLUETOOTH_HCI_VENDOR_EVENT Notification\n",
          "[4][utils]OnDeviceCustomerEvent ARRIVAL ID = 0x8e\n", "[4][utils]rssi event status = 0, payloadLength = 8\n",
          "[4][utils]rssi event: status: 0, signal 0xffffffb5(-75)", "[4][utils]rssi icon name 3"}),
      messages());
  EXPECT_EQ((Calls{{1, 3}}), takeArguments());

  // Status 1 keeps the stored signal but still reports it.
  sim_.debugOutput.clear();
  sim_.notification.postSignalEvent(1, kWatched, -20);
  sim_.notification.pump();
  EXPECT_EQ((Calls{{1, 3}}), takeArguments());
  EXPECT_TRUE(contains(messages(), "[4][utils]rssi event: status: 0x1, signal 0xffffffb5(-75)"));

  // Status 2: the device is gone; the record is no longer valid, whatever it holds.
  sim_.notification.postSignalEvent(2, kWatched, -20);
  sim_.notification.pump();
  EXPECT_EQ((Calls{{0, 0}}), takeArguments());
  EXPECT_EQ(0u, state().connected.load());
  EXPECT_EQ(-75, radio::notify::signalDbm(state().signal.load()));
  EXPECT_EQ(0u, radio::notify::GetSignalLevel());
}

TEST_F(NotificationTest, RadioRemovalDropsTheRegistrationAndArrivalRenewsIt) {
  // No radio at the start: the service runs without the registration until one arrives.
  sim_.radio.setRadio(0, false);
  start();
  EXPECT_EQ(1u, sim_.notification.registrationCount());
  EXPECT_TRUE(contains(messages(), "[4][utils]RegisterCustomerEvent can not find a bluetooth radio.\n"));
  sim_.radio.setRadio(0x0000112233445566ULL);
  sim_.notification.postRadioArrival();
  sim_.notification.pump();
  EXPECT_EQ(2u, sim_.notification.registrationCount());

  sim_.debugOutput.clear();
  sim_.notification.postRadioRemoval();
  sim_.notification.pump();
  EXPECT_EQ(1u, sim_.notification.registrationCount()) << "only the interface registration is left";
  EXPECT_EQ((std::vector<std::string>{"[4][utils]DBT_DEVTYP_DEVICEINTERFACE Notification\n",
                                      "[4][utils]OnDbtDeviceTypeInterface REMOVED\n"}),
            messages());
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  EXPECT_EQ(0u, sim_.notification.pump()) << "no registration, nothing delivered";

  sim_.debugOutput.clear();
  sim_.notification.postRadioArrival();
  sim_.notification.pump();
  EXPECT_EQ(2u, sim_.notification.registrationCount());
  const auto radios = sim_.notification.registeredRadios();
  ASSERT_EQ(2u, radios.size());
  EXPECT_NE(radios[0], radios[1]) << "a new radio handle";
  EXPECT_EQ("[4][utils]OnDbtDeviceTypeInterface ARRIVAL\n", messages()[1]);
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.pump();
  EXPECT_EQ((Calls{{1, 6}}), takeArguments());

  // A second arrival ends the earlier registration instead of doubling the events.
  sim_.notification.postRadioArrival();
  sim_.notification.pump();
  EXPECT_EQ(2u, sim_.notification.registrationCount());
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, false);
  sim_.notification.pump();
  EXPECT_EQ((Calls{{0, 0}}), takeArguments());

  // Other device-change events on an interface record.
  sim_.debugOutput.clear();
  sim_.notification.postToWindows(
      0x8001, port::DeviceBroadcast{port::kDbtDevTypeDeviceInterface, port::kGuidBthportDeviceInterface, {}});
  sim_.notification.pump();
  EXPECT_EQ("[4][utils]Default...\n\n", messages().back());

  // An arrival whose registration fails leaves the interface registration alone.
  sim_.notification.failHandleRegistration(ERROR_INVALID_PARAMETER);
  sim_.notification.postRadioArrival();
  sim_.notification.pump();
  EXPECT_EQ(1u, sim_.notification.registrationCount());
  EXPECT_TRUE(contains(messages(), "[4][utils]register device custom notification. error code = 0x87\n"));
}

TEST_F(NotificationTest, ABusyLockDropsTheNotification) {
  start();
  {
    // This thread holds the lock while another delivers the window's messages.
    std::lock_guard held(state().lock);
    sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
    std::thread([this] { sim_.notification.pump(); }).join();
  }
  EXPECT_TRUE(takeCalls().empty()) << "dropped, not delayed";
  EXPECT_EQ(0u, state().connected.load());
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.pump();
  EXPECT_EQ((Calls{{1, 6}}), takeArguments());
  // While the service stops, what still arrives is dropped as well.
  state().shutdown = 1;
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, false);
  sim_.notification.pump();
  state().shutdown = 0;
  EXPECT_TRUE(takeCalls().empty());
  EXPECT_EQ(1u, state().connected.load());
}

TEST_F(NotificationTest, InitializeSetsUpUninitializeEndsAndAReinitialiseWorks) {
  UTIL_BT_Uninitialize();
  UTIL_BT_Uninitialize();
  EXPECT_EQ(0u, sim_.notification.threadsStarted());
  sim_.debugOutput.clear();

  RegisterNotification(recordNotification);  // forgotten by the initialise
  UTIL_BT_Initialize(kWatched);
  ASSERT_TRUE(sim_.notification.settle());
  EXPECT_EQ(std::vector<std::wstring>{L"rissNotify"}, sim_.notification.windowClasses());
  EXPECT_EQ(1u, sim_.notification.windowCount());
  EXPECT_EQ(2u, sim_.notification.registrationCount());
  EXPECT_EQ(1u, sim_.notification.registeredRadios().size());
  EXPECT_EQ(1u, sim_.notification.threadsRunning());
  EXPECT_EQ(0x1D, radio::cachedManufacturer()) << "the radio information is cached";
  EXPECT_EQ(0u, sim_.radio.openHandles());

  const auto written = messages();
  ASSERT_GE(written.size(), 4u);  // after the radio's two lines
  EXPECT_EQ(0u, written[2].find("[4][utils]RegisterCustomerEvent _hRadio = ")) << written[2];
  EXPECT_EQ(0u, written[3].find("[4][utils]register device custom notification. m_hDevNotify = 0x")) << written[3];

  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.pump();
  EXPECT_TRUE(takeCalls().empty()) << "the callback registered before the initialise is forgotten";
  RegisterNotification(recordNotification);
  sim_.notification.postSignalEvent(0, kWatched, -50);
  sim_.notification.pump();
  EXPECT_EQ((Calls{{1, 5}}), takeArguments());
  UTIL_BT_Uninitialize();
  EXPECT_EQ(0u, sim_.notification.windowCount());
  EXPECT_EQ(0u, sim_.notification.registrationCount());
  EXPECT_EQ(0u, sim_.notification.threadsRunning());
  sim_.notification.postToWindows(port::kDbtCustomEvent, std::nullopt);
  EXPECT_EQ(0u, sim_.notification.pump());
  UTIL_BT_Uninitialize();

  // The second service starts clean: not connected, no signal, polling again.
  const size_t polled = pollTimes().size();
  start();
  EXPECT_EQ(0u, state().connected.load());
  EXPECT_EQ(0u, state().signal.load());
  EXPECT_EQ(1u, sim_.notification.threadsRunning());
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  sim_.notification.pump();
  ASSERT_TRUE(sim_.notification.settle());
  EXPECT_EQ(polled + 1, pollTimes().size()) << "the new polling thread polls";

  // An initialise over a running service replaces it.
  start();
  EXPECT_EQ(1u, sim_.notification.windowCount());
  EXPECT_EQ(2u, sim_.notification.registrationCount());
  EXPECT_EQ(1u, sim_.notification.threadsRunning());
  EXPECT_EQ(3u, sim_.notification.threadsStarted());
}

TEST_F(NotificationTest, WhatArrivesDuringInitializeIsDeliveredAfterItInOrder) {
  // A thread other than the caller's delivers the window's messages (as the
  // Linux event thread does) while the initialise still holds the lock.
  size_t deliveredDuringSetUp = SIZE_MAX;
  sim_.notification.onRegistration([this, &deliveredDuringSetUp](bool isHandle) {
    if (!isHandle) return;
    sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
    sim_.notification.postSignalEvent(0, kWatched, -50);
    sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, false);
    sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
    std::thread([this, &deliveredDuringSetUp] { deliveredDuringSetUp = sim_.notification.pump(); }).join();
  });
  UTIL_BT_Initialize(kWatched);
  sim_.notification.onRegistration(nullptr);
  EXPECT_EQ(0u, deliveredDuringSetUp) << "the window's messages wait while the service is set up";
  EXPECT_EQ(0u, state().connected.load()) << "the device was not connected when the initialise read it";

  RegisterNotification(recordNotification);
  EXPECT_EQ(4u, sim_.notification.pump());
  EXPECT_EQ((Calls{{1, 6}, {1, 5}, {0, 0}, {1, 6}}), takeArguments());
  EXPECT_EQ(1u, state().connected.load());

  // A failed initialise (no window) sets up nothing and holds nothing, and a
  // later one delivers as before.
  UTIL_BT_Uninitialize();
  const size_t threads = sim_.notification.threadsStarted();
  sim_.notification.failCreateWindow(ERROR_NOT_ENOUGH_MEMORY);
  start();
  sim_.notification.failCreateWindow(0);
  EXPECT_EQ(0u, sim_.notification.windowCount());
  EXPECT_EQ(0u, sim_.notification.registrationCount());
  EXPECT_EQ(threads, sim_.notification.threadsStarted());
  start();
  sim_.notification.postConnection(kWatched, port::kHciConnectionTypeAcl, true);
  EXPECT_EQ(1u, sim_.notification.pump());
  EXPECT_EQ((Calls{{1, 6}}), takeArguments());
}

}  // namespace
}  // namespace utils::test
