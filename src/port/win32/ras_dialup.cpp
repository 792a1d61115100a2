#include "port/win32/ras_dialup.h"

#include <windows.h>
/* after windows.h, which they need */
#include <ras.h>
#include <raserror.h>

#include <cstring>
#include <cwchar>

namespace utils::win32port {
namespace {

// The fields read and written lie in the part that mingw's records share with
// the longer Windows 7 layouts; the records travel in buffers of the longer size.
static_assert(sizeof(RASCONNW) <= kRasConnSize);
static_assert(sizeof(RASENTRYW) <= kRasEntrySize);
static_assert(sizeof(RASDIALPARAMSW) <= kRasDialParamsSize);
static_assert(sizeof(RASCONNSTATUSW) <= kRasConnStatusSize);

template <size_t N>
void copyText(WCHAR (&field)[N], const std::wstring& text) {
  const size_t length = text.size() < N - 1 ? text.size() : N - 1;
  std::wmemcpy(field, text.c_str(), length);
  field[length] = L'\0';
}

void storeSize(std::vector<BYTE>& buffer, DWORD size) { std::memcpy(buffer.data(), &size, sizeof size); }

}  // namespace

DWORD Win32Dialup::listConnections(std::vector<port::ActiveConnection>* connections) {
  connections->clear();
  DWORD bytes = 0;
  DWORD count = 0;
  const DWORD sizing = RasEnumConnectionsW(nullptr, &bytes, &count);
  if (sizing != ERROR_BUFFER_TOO_SMALL) return sizing;  // 0: there is no connection
  if (count > bytes / kRasConnSize) count = bytes / kRasConnSize;
  std::vector<BYTE> buffer(bytes, 0);
  for (DWORD i = 0; i < count; ++i) std::memcpy(buffer.data() + i * kRasConnSize, &kRasConnSize, sizeof(DWORD));
  if (const DWORD error = RasEnumConnectionsW(reinterpret_cast<RASCONNW*>(buffer.data()), &bytes, &count); error != 0) {
    return error;
  }
  if (count > buffer.size() / kRasConnSize) count = static_cast<DWORD>(buffer.size() / kRasConnSize);
  for (DWORD i = 0; i < count; ++i) {
    RASCONNW record;
    std::memcpy(&record, buffer.data() + i * kRasConnSize, sizeof record);
    record.szDeviceName[RAS_MaxDeviceName] = L'\0';
    connections->push_back(port::ActiveConnection{record.hrasconn, record.szDeviceName});
  }
  return 0;
}

DWORD Win32Dialup::readDefaultEntry(port::PhonebookEntry* entry) {
  std::vector<BYTE> buffer(kRasEntrySize, 0);
  storeSize(buffer, kRasEntrySize);
  DWORD size = kRasEntrySize;
  if (const DWORD error = RasGetEntryPropertiesW(nullptr, nullptr, reinterpret_cast<RASENTRYW*>(buffer.data()), &size,
                                                 nullptr, nullptr);
      error != 0) {
    return error;
  }
  RASENTRYW record;
  std::memcpy(&record, buffer.data(), sizeof record);
  record.szDeviceType[RAS_MaxDeviceType] = L'\0';
  record.szDeviceName[RAS_MaxDeviceName] = L'\0';
  entry->deviceType = record.szDeviceType;
  entry->deviceName = record.szDeviceName;
  entry->netProtocols = record.dwfNetProtocols;
  entry->framingProtocol = record.dwFramingProtocol;
  entry->options = record.dwfOptions;
  entry->type = record.dwType;
  // The record as long as the read said it is; it is written back with that size.
  buffer.resize(size < kRasEntrySize ? size : kRasEntrySize);
  entry->platformRecord = std::move(buffer);
  return 0;
}

DWORD Win32Dialup::writeEntry(const wchar_t* name, const port::PhonebookEntry& entry) {
  std::vector<BYTE> buffer(kRasEntrySize, 0);
  std::memcpy(buffer.data(), entry.platformRecord.data(), entry.platformRecord.size());
  RASENTRYW record;
  std::memcpy(&record, buffer.data(), sizeof record);
  copyText(record.szDeviceType, entry.deviceType);
  copyText(record.szDeviceName, entry.deviceName);
  record.dwfNetProtocols = entry.netProtocols;
  record.dwFramingProtocol = entry.framingProtocol;
  record.dwfOptions = entry.options;
  record.dwType = entry.type;
  std::memcpy(buffer.data(), &record, sizeof record);
  return RasSetEntryPropertiesW(nullptr, name, reinterpret_cast<RASENTRYW*>(buffer.data()),
                                static_cast<DWORD>(entry.platformRecord.size()), nullptr, 0);
}

DWORD Win32Dialup::dial(const wchar_t* entryName, const wchar_t* phoneNumber, HWND notifier,
                        port::DialConnection* connection) {
  std::vector<BYTE> buffer(kRasDialParamsSize, 0);
  RASDIALPARAMSW params;
  std::memset(&params, 0, sizeof params);
  params.dwSize = kRasDialParamsSize;
  copyText(params.szEntryName, entryName);
  copyText(params.szPhoneNumber, phoneNumber);
  std::memcpy(buffer.data(), &params, sizeof params);
  HRASCONN handle = nullptr;
  const DWORD error =
      RasDialW(nullptr, nullptr, reinterpret_cast<RASDIALPARAMSW*>(buffer.data()), 0xFFFFFFFF, notifier, &handle);
  *connection = handle;
  return error;
}

DWORD Win32Dialup::hangUp(port::DialConnection connection) { return RasHangUpW(static_cast<HRASCONN>(connection)); }

DWORD Win32Dialup::getStatus(port::DialConnection connection, port::ConnectionStatus* status) {
  std::vector<BYTE> buffer(kRasConnStatusSize, 0);
  storeSize(buffer, kRasConnStatusSize);
  const DWORD error =
      RasGetConnectStatusW(static_cast<HRASCONN>(connection), reinterpret_cast<RASCONNSTATUSW*>(buffer.data()));
  if (error != 0) return error;
  RASCONNSTATUSW record;
  std::memcpy(&record, buffer.data(), sizeof record);
  status->state = static_cast<DWORD>(record.rasconnstate);
  status->error = record.dwError;
  return 0;
}

DWORD Win32Dialup::notifyOnChange(port::DialConnection connection, HANDLE event, DWORD flags) {
  return RasConnectionNotificationW(static_cast<HRASCONN>(connection), event, flags);
}

DWORD Win32Dialup::createEvent(HANDLE* event) {
  *event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (*event != nullptr) return 0;
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

DWORD Win32Dialup::setEvent(HANDLE event) { return SetEvent(event) ? 0 : GetLastError(); }

DWORD Win32Dialup::resetEvent(HANDLE event) { return ResetEvent(event) ? 0 : GetLastError(); }

DWORD Win32Dialup::waitEvent(HANDLE event, DWORD ms) {
  const DWORD result = WaitForSingleObject(event, ms);
  if (result == WAIT_OBJECT_0 || result == WAIT_TIMEOUT) return result;
  return WAIT_FAILED;
}

DWORD Win32Dialup::closeEvent(HANDLE event) { return CloseHandle(event) ? 0 : GetLastError(); }

}  // namespace utils::win32port
