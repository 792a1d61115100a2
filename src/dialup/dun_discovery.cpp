// The phone's name, its modem, a connection already running on that modem, and
// the phonebook entry every dial uses.
#include <cwchar>
#include <cwctype>

#include "common/utf16.h"
#include "dialup/dun_context.h"
#include "port/platform.h"
#include "radio/bus_device.h"

namespace utils::dialup {
namespace {

port::DialupPort* dialupPort() { return port::platform().dialup; }

// The six address bytes, most significant first, as twelve upper-case digits.
std::wstring addressText(ULONGLONG address) {
  wchar_t text[20] = {};
  std::swprintf(text, 20, L"%.2X%.2X%.2X%.2X%.2X%.2X", static_cast<unsigned>((address >> 40) & 0xFF),
                static_cast<unsigned>((address >> 32) & 0xFF), static_cast<unsigned>((address >> 24) & 0xFF),
                static_cast<unsigned>((address >> 16) & 0xFF), static_cast<unsigned>((address >> 8) & 0xFF),
                static_cast<unsigned>(address & 0xFF));
  return text;
}

bool equalIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

std::wstring peerName(const BLUETOOTH_DEVICE_INFO& peer) {
  std::u16string name;
  for (size_t i = 0; i < BLUETOOTH_MAX_NAME_SIZE && peer.szName[i] != 0; ++i) {
    name.push_back(static_cast<char16_t>(peer.szName[i]));
  }
  return utf16ToWide(name);
}

}  // namespace

void DunReadPeerName(ULONGLONG address) {
  // The radio handle and its search are released on every path, a throwing one
  // included.
  BLUETOOTH_RADIO_INFO radioInfo{};
  DWORD infoError = 0;
  const radio::ScopedRadio radioHandle(radio::findFirstRadio(&radioInfo, &infoError));
  if (radioHandle.get() == nullptr || infoError != 0) return;
  BLUETOOTH_DEVICE_INFO device{};
  device.dwSize = sizeof device;
  device.Address.ullLong = address;
  if (port::platform().radio->getDeviceInfo(radioHandle.get(), &device) != 0) device = BLUETOOTH_DEVICE_INFO{};
  DunContext& ctx = dunContext();
  std::lock_guard lock(ctx.dataLock);
  ctx.peer = device;
}

void DunFindModem() {
  DunContext& ctx = dunContext();
  std::vector<port::ModemDevice> modems;
  const DWORD error = dialupPort()->listModems(kModemPropertyUnits, &modems);
  std::lock_guard lock(ctx.dataLock);
  ctx.modemName.clear();
  if (error != 0) return;
  const std::wstring wanted = addressText(ctx.peerAddress.load());
  for (const auto& modem : modems) {
    if (modem.addressError != 0 || !equalIgnoringCase(modem.address, wanted)) continue;
    if (modem.nameError != 0) continue;
    ctx.modemName = modem.friendlyName.substr(0, kModemNameUnits - 1);
    return;
  }
}

port::DialConnection DunFindConnection() {
  DunContext& ctx = dunContext();
  std::vector<port::ActiveConnection> connections;
  if (dialupPort()->listConnections(&connections) != 0) return nullptr;
  std::wstring modemName;
  {
    std::lock_guard lock(ctx.dataLock);
    modemName = ctx.modemName;
  }
  for (const auto& connection : connections) {
    // A full, case-sensitive comparison.
    if (connection.deviceName == modemName) {
      ctx.connection = connection.handle;
      return connection.handle;
    }
  }
  return nullptr;
}

bool DunWriteEntry() {
  DunContext& ctx = dunContext();
  port::PhonebookEntry entry;
  if (dialupPort()->readDefaultEntry(&entry) != 0) return false;
  std::wstring name;
  {
    std::lock_guard lock(ctx.dataLock);
    entry.deviceName = ctx.modemName.substr(0, kEntryDeviceNameLength);
  }
  name = entryName();
  entry.deviceType = std::wstring(kEntryDeviceType).substr(0, kEntryDeviceTypeLength);
  entry.netProtocols = kEntryNetProtocols;
  entry.framingProtocol = kEntryFramingProtocol;
  entry.options = kEntryOptions;
  entry.type = kEntryType;
  // Whether the entry was stored is not tested: the dial goes ahead either way.
  dialupPort()->writeEntry(name.c_str(), entry);
  return true;
}

std::wstring entryName() {
  DunContext& ctx = dunContext();
  std::lock_guard lock(ctx.dataLock);
  return peerName(ctx.peer).substr(0, kEntryNameLength);
}

}  // namespace utils::dialup
