// Device notifications, the message window, and the wake event and worker
// thread of the services built on them. A message window is where the system
// delivers device changes (radio interfaces coming and going, the radio's
// connection and vendor events) and registered messages such as dial progress.
// On Windows it is a hidden message-only window owned by the thread that creates
// it, and its handler runs while that thread dispatches messages; on Linux a
// library-owned event thread stands in for the window thread. Either way the
// handler of one window is called one message at a time, in the order the
// events occurred, always on the same thread.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "utils/wintypes.h"

namespace utils::port {

// Device-change event codes (the wParam of WM_DEVICECHANGE).
inline constexpr DWORD kDbtDeviceArrival = 0x8000;
inline constexpr DWORD kDbtDeviceRemoveComplete = 0x8004;
inline constexpr DWORD kDbtCustomEvent = 0x8006;

// Device types of a device-change record.
inline constexpr DWORD kDbtDevTypeDeviceInterface = 5;
inline constexpr DWORD kDbtDevTypeHandle = 6;

// The radio device interface class, and the event GUIDs of a radio handle's
// custom events: ACL connection changes and vendor-specific HCI events.
inline constexpr GUID kGuidBthportDeviceInterface = {
    0x0850302A, 0xB344, 0x4FDA, {0x9B, 0xE9, 0x90, 0x57, 0x6B, 0x8D, 0x46, 0xF0}};
inline constexpr GUID kGuidBluetoothHciEvent = {
    0xFC240062, 0x1541, 0x49BE, {0xB4, 0x63, 0x84, 0xC4, 0xDC, 0xD7, 0xBF, 0x7F}};
inline constexpr GUID kGuidBluetoothHciVendorEvent = {
    0x547247E6, 0x45BB, 0x4C33, {0xAF, 0x8C, 0xC0, 0x0F, 0xA1, 0xF3, 0xA3, 0xD4}};

inline bool sameGuid(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

// The data field of a GUID_BLUETOOTH_HCI_EVENT record (BTH_HCI_EVENT_INFO):
// the address in bytes 0-7 (little-endian), the link type at byte 8, the
// connected flag at byte 9, padded to 16 bytes.
inline constexpr size_t kHciEventInfoSize = 16;
inline constexpr BYTE kHciConnectionTypeAcl = 1;
inline constexpr BYTE kHciConnectionTypeSco = 2;
inline constexpr BYTE kHciConnectionTypeLe = 3;
inline std::vector<BYTE> hciEventInfoData(ULONGLONG address, BYTE connectionType, bool connected) {
  std::vector<BYTE> data(kHciEventInfoSize, 0);
  for (int i = 0; i < 8; ++i) data[i] = static_cast<BYTE>(address >> (8 * i));
  data[8] = connectionType;
  data[9] = connected ? 1 : 0;
  return data;
}

// The data field of a GUID_BLUETOOTH_HCI_VENDOR_EVENT record: 13 header bytes
// (zero where no system supplies them), the HCI parameter length L at byte 13,
// then the L parameters: the vendor sub-event code and the rest.
inline constexpr size_t kVendorEventLengthOffset = 13;
inline std::vector<BYTE> vendorEventData(const BYTE* parameters, BYTE length) {
  std::vector<BYTE> data(kVendorEventLengthOffset, 0);
  data.push_back(length);
  data.insert(data.end(), parameters, parameters + length);
  return data;
}

// A device-change record, decoded from its header but otherwise as delivered.
struct DeviceBroadcast {
  DWORD deviceType = 0;  // kDbtDevTypeDeviceInterface, kDbtDevTypeHandle, or another type
  GUID guid{};           // interface records: the interface class; handle records: the event GUID
  // Custom events of handle records: the bytes of the record's data field as far
  // as the record's size says (see hciEventInfoData and vendorEventData). Empty
  // otherwise.
  std::vector<BYTE> data;
};

// What a message window does with its messages; implemented by the library logic.
class MessageWindowHandler {
 public:
  virtual ~MessageWindowHandler() = default;

  // A device change: event is the DBT_* code, record the decoded record or null
  // when the message carries none. Returns true when handled (the message is
  // answered 0), false to leave it to default processing.
  virtual bool onDeviceChange(DWORD event, const DeviceBroadcast* record) = 0;

  // Any message registered with registerMessage, with its two parameters (dial
  // progress: wParam the connection state, lParam the error). Default processing
  // follows.
  virtual void onMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// An auto-reset event (CreateEventW, not signalled at first).
class WakeEvent {
 public:
  virtual ~WakeEvent() = default;
  // Signals the event; one wait (now or the next) ends and resets it.
  virtual void signal() = 0;
  // Waits up to ms milliseconds (INFINITE for no limit): WAIT_OBJECT_0 when the
  // event was signalled, WAIT_TIMEOUT when the time ran out.
  virtual DWORD wait(DWORD ms) = 0;
};

// A running thread of the library. Destroying it without join leaves the thread
// running on its own (its handle is released).
class WorkerThread {
 public:
  virtual ~WorkerThread() = default;
  // Waits without time limit until the thread's entry has returned.
  virtual void join() = 0;
  // Whether the calling thread is this thread.
  virtual bool isCurrent() const = 0;
};

class NotificationPort {
 public:
  virtual ~NotificationPort() = default;

  // Registers the window class className (a class already registered under that
  // name counts as success) and creates a hidden window of it that hands its
  // messages to handler. Returns 0 and the window, or the error of the failed step
  // with *window null. handler must outlive the window.
  virtual DWORD createWindow(const wchar_t* className, MessageWindowHandler* handler, HWND* window) = 0;

  // Destroys a window from createWindow together with its registrations; once it
  // returns the handler is not called again (when called from the handler itself:
  // once the handler returns). ERROR_INVALID_HANDLE for an unknown window.
  virtual DWORD destroyWindow(HWND window) = 0;

  // RegisterWindowMessageA: the process-wide number of the named message, the same
  // for every call with the same name; 0 on failure.
  virtual UINT registerMessage(const char* name) = 0;

  // Asks for arrival and removal notifications of the device interfaces of one
  // class (kDbtDeviceArrival / kDbtDeviceRemoveComplete with interface records) on
  // window. Returns 0 and the registration, or the error with it null.
  virtual DWORD registerInterfaceNotification(HWND window, const GUID& interfaceClass, HDEVNOTIFY* registration) = 0;

  // Asks for the custom events of an open radio handle (kDbtCustomEvent with handle
  // records: its connection events and vendor events) on window. The registration
  // outlives the handle, which the caller may close at once. Returns 0 and the
  // registration, or the error with it null.
  virtual DWORD registerHandleNotification(HWND window, HANDLE radio, HDEVNOTIFY* registration) = 0;

  // Ends a registration; no notification of it is delivered after this returns.
  // ERROR_INVALID_HANDLE for an unknown registration.
  virtual DWORD unregisterNotification(HDEVNOTIFY registration) = 0;

  // Creates an auto-reset wake event. Returns 0 and the event, or the error.
  virtual DWORD createWakeEvent(std::unique_ptr<WakeEvent>* event) = 0;

  // Starts a thread that runs entry at once. Returns 0 and the thread, or the
  // error with *thread empty (entry is then not run).
  virtual DWORD startThread(std::function<void()> entry, std::unique_ptr<WorkerThread>* thread) = 0;

  // Holds back what the window would hand its handler (device changes and
  // posted messages) until releaseMessages: it waits, in order, and none is
  // lost. For set-up done under a lock that the handler takes: where the window's
  // thread is not the caller's, what arrives meanwhile would find the lock taken.
  // Where the window belongs to the calling thread (Windows), its messages wait
  // for that thread anyway and both only check the window. Holds do not nest.
  // ERROR_INVALID_HANDLE for an unknown window.
  virtual DWORD holdMessages(HWND window) = 0;
  // Ends the hold: what waits is delivered first, in order, then what follows.
  virtual DWORD releaseMessages(HWND window) = 0;
};

}  // namespace utils::port
