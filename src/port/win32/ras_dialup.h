// The dial-up port on Windows: the Remote Access Service for the phonebook
// entry, dialling, hanging up, status and change notification; SetupAPI for the
// phones' modems (the modem class under the Bluetooth enumerator); kernel
// events. Every RAS record carries the size of its Windows 7 64-bit layout,
// which selects the record version RAS fills.
#pragma once

#include "port/dialup_port.h"

namespace utils::win32port {

// Record sizes of the Windows 7 64-bit layouts.
inline constexpr DWORD kRasConnSize = 1388;
inline constexpr DWORD kRasEntrySize = 5680;
inline constexpr DWORD kRasDialParamsSize = 2120;
inline constexpr DWORD kRasConnStatusSize = 608;

class Win32Dialup : public port::DialupPort {
 public:
  DWORD listModems(DWORD propertyUnits, std::vector<port::ModemDevice>* modems) override;
  DWORD listConnections(std::vector<port::ActiveConnection>* connections) override;
  DWORD readDefaultEntry(port::PhonebookEntry* entry) override;
  DWORD writeEntry(const wchar_t* name, const port::PhonebookEntry& entry) override;
  DWORD dial(const wchar_t* entryName, const wchar_t* phoneNumber, HWND notifier,
             port::DialConnection* connection) override;
  DWORD hangUp(port::DialConnection connection) override;
  DWORD getStatus(port::DialConnection connection, port::ConnectionStatus* status) override;
  DWORD notifyOnChange(port::DialConnection connection, HANDLE event, DWORD flags) override;
  DWORD createEvent(HANDLE* event) override;
  DWORD setEvent(HANDLE event) override;
  DWORD resetEvent(HANDLE event) override;
  DWORD waitEvent(HANDLE event, DWORD ms) override;
  DWORD closeEvent(HANDLE event) override;
};

}  // namespace utils::win32port
