// The notification window's handler: radio arrival and removal, ACL connection
// changes of the watched device, and the radio's signal-strength events, each
// turned into a call of the registered callback.
#include <cstring>
#include <new>
#include <vector>

#include "port/platform.h"
#include "radio/notification_state.h"
#include "utils/trace.h"

namespace utils::radio::notify {
namespace {

// The payload of a signal event: status, the address most significant byte
// first, the signal in dBm.
constexpr size_t kRssiPayloadSize = 8;
constexpr BYTE kRssiStatusOk = 0;
constexpr BYTE kRssiStatusDisconnected = 2;

// Bytes 0-9 of a BTH_HCI_EVENT_INFO are read.
constexpr size_t kHciEventReadSize = 10;
// A vendor record holds at least its length byte and the sub-event code.
constexpr size_t kVendorSubEventOffset = port::kVendorEventLengthOffset + 1;

void notify(DWORD connected, DWORD level) {
  if (UTIL_BT_NotifyCallback callback = serviceState().callback.load()) callback(connected, level);
}

void wakePoller(ServiceState& s) {
  if (s.wake) s.wake->signal();
}

void OnDbtDeviceTypeInterface(const port::DeviceBroadcast& record, DWORD event) {
  ServiceState& s = serviceState();
  const bool radioInterface = port::sameGuid(record.guid, port::kGuidBthportDeviceInterface);
  if (event == port::kDbtDeviceArrival) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"OnDbtDeviceTypeInterface ARRIVAL\n");
    if (radioInterface) RegisterCustomerEvent(s.window);
  } else if (event == port::kDbtDeviceRemoveComplete) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"OnDbtDeviceTypeInterface REMOVED\n");
    if (radioInterface && s.devNotify != nullptr) {
      port::platform().notification->unregisterNotification(s.devNotify);
      s.devNotify = nullptr;
    }
  } else {
    WRITELOG_W(kTraceLevel, kTraceModule, L"Default...\n\n");
  }
}

void OnRssiEvent(BYTE code, std::vector<BYTE> payload) {
  ServiceState& s = serviceState();
  if (code != kRssiSubEvent || payload.empty()) return;
  const BYTE status = payload[0];
  WRITELOG_W(kTraceLevel, kTraceModule, L"rssi event status = %d, payloadLength = %d\n", status,
             static_cast<int>(payload.size()));
  if (payload.size() != kRssiPayloadSize) return;
  const ULONGLONG address = s.address.load();
  for (int i = 0; i < 6; ++i) {
    if (payload[1 + i] != static_cast<BYTE>(address >> (8 * (5 - i)))) return;
  }
  if (status == kRssiStatusOk) {
    s.signal = signalRecord(true, static_cast<int8_t>(payload[7]));
  } else if (status == kRssiStatusDisconnected) {
    s.connected = 0;
    s.signal.fetch_and(~kSignalValid);
  }
  const int signal = signalDbm(s.signal.load());
  WRITELOG_W(kTraceLevel, kTraceModule, L"rssi event: status: %#x, signal %#x(%d)", status,
             static_cast<unsigned>(signal), signal);
  const DWORD level = GetSignalLevel();
  WRITELOG_W(kTraceLevel, kTraceModule, L"rssi icon name %d", level);
  notify(s.connected.load() != 0 ? 1 : 0, level);
}

void OnDeviceCustomerEvent(const port::DeviceBroadcast& record) {
  const std::vector<BYTE>& data = record.data;
  if (data.size() <= kVendorSubEventOffset) return;  // no sub-event code to read
  const BYTE length = data[port::kVendorEventLengthOffset];
  const BYTE code = data[kVendorSubEventOffset];
  WRITELOG_W(kTraceLevel, kTraceModule, L"OnDeviceCustomerEvent ARRIVAL ID = 0x%x\n", code);
  if (code != kRssiSubEvent || length < 2) return;
  // The length byte is the sender's word: parameters it claims beyond the end of
  // the record are not there, and the event is dropped.
  if (data.size() < kVendorSubEventOffset + length) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"OnDeviceCustomerEvent length %d exceeds the record (%d bytes).\n", length,
               static_cast<int>(data.size()));
    return;
  }
  std::vector<BYTE> payload;
  try {
    payload.assign(data.begin() + kVendorSubEventOffset + 1, data.begin() + kVendorSubEventOffset + length);
  } catch (const std::bad_alloc&) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"OnDeviceCustomerEvent memory low.\n");
    return;
  }
  OnRssiEvent(code, std::move(payload));
}

void OnConnectionEvent(const port::DeviceBroadcast& record) {
  ServiceState& s = serviceState();
  if (record.data.size() < kHciEventReadSize) return;
  ULONGLONG address = 0;
  for (int i = 0; i < 8; ++i) address |= static_cast<ULONGLONG>(record.data[i]) << (8 * i);
  const BYTE connectionType = record.data[8];
  const BYTE connected = record.data[9];
  if (address != s.address.load() || connectionType != port::kHciConnectionTypeAcl) return;
  if (connected != 0) {
    notify(1, 6);
    s.connected = 1;
    wakePoller(s);
  } else {
    s.connected = 0;
    wakePoller(s);
    s.signal.fetch_and(~kSignalValid);
    notify(0, GetSignalLevel());
  }
}

}  // namespace

void OnDeviceChange(DWORD event, const port::DeviceBroadcast* record) {
  ServiceState& s = serviceState();
  if (record == nullptr || s.shutdown.load() != 0) return;
  std::unique_lock guard(s.lock, std::try_to_lock);
  if (!guard.owns_lock()) return;  // busy: this notification is dropped

  if (event != port::kDbtCustomEvent) {
    if (record->deviceType == port::kDbtDevTypeDeviceInterface) {
      WRITELOG_W(kTraceLevel, kTraceModule, L"DBT_DEVTYP_DEVICEINTERFACE Notification\n");
      OnDbtDeviceTypeInterface(*record, event);
    }
    return;
  }
  if (record->deviceType != port::kDbtDevTypeHandle) return;
  if (port::sameGuid(record->guid, port::kGuidBluetoothHciVendorEvent)) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"GUID_BLUETOOTH_HCI_VENDOR_EVENT Notification\n");
    OnDeviceCustomerEvent(*record);
  } else if (port::sameGuid(record->guid, port::kGuidBluetoothHciEvent)) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"GUID_BLUETOOTH_HCI_EVENT Notification\n");
    OnConnectionEvent(*record);
  }
}

bool NotifyWndProc::onDeviceChange(DWORD event, const port::DeviceBroadcast* record) {
  OnDeviceChange(event, record);
  return true;
}

void NotifyWndProc::onMessage(UINT, WPARAM, LPARAM) {}

}  // namespace utils::radio::notify
