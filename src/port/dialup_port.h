// Dial-up networking through a paired phone's dial-up service: the phone's modem,
// the phonebook entry named after the phone, dialling, hanging up, connection
// status and change notification, and the events that notification signals. The
// Remote Access Service and SetupAPI on Windows; NetworkManager's Bluetooth
// dial-up profiles over D-Bus on Linux.
#pragma once

#include <string>
#include <vector>

#include "utils/wintypes.h"

namespace utils::port {

// A dial-up connection (HRASCONN on Windows); null when there is none.
using DialConnection = HANDLE;

// Connection states (RASCONNSTATE values) that the logic tells apart.
inline constexpr DWORD kRasDeviceConnected = 3;
inline constexpr DWORD kRasConnected = 0x2000;
inline constexpr DWORD kRasDisconnected = 0x2001;

// What a connection notification reports (RASCN_* flags).
inline constexpr DWORD kRasNotifyConnection = 0x1;
inline constexpr DWORD kRasNotifyDisconnection = 0x2;

// One present modem device of a paired phone, with the two properties read.
struct ModemDevice {
  DWORD addressError = 0;  // 0 when the Bluetooth address text was read
  std::wstring address;    // twelve hexadecimal digits, no separators, any letter case
  DWORD nameError = 0;     // 0 when the friendly name was read
  std::wstring friendlyName;
};

// One active connection.
struct ActiveConnection {
  DialConnection handle = nullptr;
  std::wstring deviceName;  // the modem it runs on
};

// The phonebook entry fields the logic sets. Every other setting of the entry
// travels unchanged in platformRecord, as read.
struct PhonebookEntry {
  std::wstring deviceType;  // "modem"; at most 16 characters are kept
  std::wstring deviceName;  // at most 128 characters are kept
  DWORD netProtocols = 0;   // RASNP_* flags
  DWORD framingProtocol = 0;
  DWORD options = 0;                 // RASEO_* flags
  DWORD type = 0;                    // RASET_* value
  std::vector<BYTE> platformRecord;  // the adapter's own copy of the rest; opaque to the logic
};

// The status of one connection.
struct ConnectionStatus {
  DWORD state = 0;  // a RASCONNSTATE value
  DWORD error = 0;  // the connection's error, 0 when none
};

class DialupPort {
 public:
  virtual ~DialupPort() = default;

  // The present modem devices that belong to paired phones (on Windows the modem
  // class under the Bluetooth enumerator), in enumeration order, each property read
  // into at most propertyUnits UTF-16 units including the terminator (a longer one
  // fails in its entry). Returns 0 with the list, or the error when the device list
  // cannot be made.
  virtual DWORD listModems(DWORD propertyUnits, std::vector<ModemDevice>* modems) = 0;

  // The active connections, in the order the service keeps them. Returns 0 with the
  // list (empty when there is none), or the error with the list empty.
  virtual DWORD listConnections(std::vector<ActiveConnection>* connections) = 0;

  // The default entry properties of the default phonebook. Returns 0 with entry
  // filled, or the error.
  virtual DWORD readDefaultEntry(PhonebookEntry* entry) = 0;

  // Writes entry into the default phonebook under name, creating or replacing that
  // entry. Returns 0 or the error.
  virtual DWORD writeEntry(const wchar_t* name, const PhonebookEntry& entry) = 0;

  // Starts dialling the entry name of the default phonebook with phoneNumber,
  // without user name or password, asynchronously. Progress arrives at notifier
  // (a message window) as the registered message "RasDialEvent" with the
  // connection state as wParam and the error (0 or a failure code) as lParam.
  // Returns 0 and the new connection, or the error; *connection may then still
  // hold a connection that has to be hung up.
  virtual DWORD dial(const wchar_t* entryName, const wchar_t* phoneNumber, HWND notifier,
                     DialConnection* connection) = 0;

  // Hangs up a connection without waiting for it to be released. Returns 0 or the
  // error (ERROR_INVALID_HANDLE for a connection the service does not know).
  virtual DWORD hangUp(DialConnection connection) = 0;

  // The connection's state. Returns 0 with status filled, ERROR_INVALID_HANDLE when
  // the service no longer knows the connection, or another error.
  virtual DWORD getStatus(DialConnection connection, ConnectionStatus* status) = 0;

  // Has event (from createEvent) signalled whenever the connection comes up or goes
  // down, as flags (kRasNotify*) ask, until it is gone. Returns 0 or the error.
  virtual DWORD notifyOnChange(DialConnection connection, HANDLE event, DWORD flags) = 0;

  // Makes an unnamed auto-reset event, not signalled. Returns 0 and the event, or
  // the error with it null.
  virtual DWORD createEvent(HANDLE* event) = 0;

  // Signals an event: one waiter, or the next wait, is released.
  virtual DWORD setEvent(HANDLE event) = 0;

  // Clears an event's signal.
  virtual DWORD resetEvent(HANDLE event) = 0;

  // Waits up to ms milliseconds (INFINITE: no limit) for the event's signal.
  // Returns WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for an invalid event.
  virtual DWORD waitEvent(HANDLE event, DWORD ms) = 0;

  // Releases an event; no thread may be waiting on it or use it afterwards.
  virtual DWORD closeEvent(HANDLE event) = 0;
};

}  // namespace utils::port
