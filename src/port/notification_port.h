// Device notifications and the message window. A message window is where the
// system delivers device changes (radio interfaces coming and going, the radio's
// connection and vendor events) and registered messages such as dial progress.
// On Windows it is a hidden window owned by the thread that creates it, and its
// handler runs while that thread dispatches messages; on Linux a library-owned
// event thread stands in for the window thread. Either way the handler of one
// window is called one message at a time, in the order the events occurred.
#pragma once

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

// A device-change record, decoded from its header but otherwise as delivered.
struct DeviceBroadcast {
  DWORD deviceType = 0;  // kDbtDevTypeDeviceInterface, kDbtDevTypeHandle, or another type
  GUID guid{};           // interface records: the interface class; handle records: the event GUID
  // Handle records: the bytes of the record's data field, in the Windows layout
  // (a BTH_HCI_EVENT_INFO for GUID_BLUETOOTH_HCI_EVENT; for
  // GUID_BLUETOOTH_HCI_VENDOR_EVENT the HCI parameter length at byte 13, the
  // sub-event code at byte 14 and the other parameters after it, bytes 0-12 being
  // the system's header, zero where no system supplies one). Empty otherwise.
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

class NotificationPort {
 public:
  virtual ~NotificationPort() = default;

  // Registers the window class className (a class already registered under that
  // name counts as success) and creates a hidden tool window of it that hands its
  // messages to handler. Returns 0 and the window, or the error of the failed step
  // with *window null. handler must outlive the window.
  virtual DWORD createWindow(const wchar_t* className, MessageWindowHandler* handler, HWND* window) = 0;

  // Destroys a window from createWindow; once it returns the handler is not called
  // again. Call it on the thread that created the window or from its handler.
  // ERROR_INVALID_HANDLE for an unknown window.
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
  virtual DWORD unregisterNotification(HDEVNOTIFY registration) = 0;
};

}  // namespace utils::port
