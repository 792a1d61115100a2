#include "port/linux/nm_dialup.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-id128.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "common/utf16.h"
#include "port/linux/bluez_objects.h"
#include "port/linux/notification_wake.h"
#include "port/linux/notification_window.h"

namespace utils::linuxport {
namespace {

constexpr const char* kDunUuid = "00001103-0000-1000-8000-00805f9b34fb";
constexpr const char* kDialEventName = "RasDialEvent";
constexpr DWORD kErrorCannotFindEntry = 623;
constexpr DWORD kNetProtocolIp = 4;
constexpr DWORD kNetProtocolIpv6 = 8;
constexpr DWORD kOptionRemoteDefaultGateway = 0x10;
// NetworkManager's active connection states.
constexpr uint32_t kActivated = 2;
constexpr uint32_t kDeactivating = 3;
constexpr uint32_t kDeactivated = 4;

bool sameAddress(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::toupper(x) == std::toupper(y);
         });
}

std::string addressText(const std::vector<uint8_t>& bytes) {
  if (bytes.size() != 6) return "";
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                bytes[5]);
  return text;
}

std::vector<uint8_t> addressBytes(const std::string& text) {
  uint64_t value = 0;
  if (!parseBluezAddress(text, &value)) return {};
  std::vector<uint8_t> bytes(6);
  for (int i = 0; i < 6; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (5 - i)));
  return bytes;
}

std::string newUuid() {
  sd_id128_t id{};
  if (sd_id128_randomize(&id) < 0) return "";
  const uint8_t* b = id.bytes;
  char text[37];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

size_t utf16Length(const std::wstring& text) { return wideToUtf16(text).size(); }

// The profile values of an entry (the connection's id, type and uuid aside).
NmSettings profileSettings(const port::PhonebookEntry& entry, const std::vector<uint8_t>& address) {
  NmSettings settings;
  settings["connection"]["type"] = NmValue::ofText("bluetooth");
  settings["connection"]["autoconnect"] = NmValue::ofFlag(false);
  settings["bluetooth"]["bdaddr"] = NmValue::ofBytes(address);
  settings["bluetooth"]["type"] = NmValue::ofText("dun");
  settings["ipv4"]["method"] = NmValue::ofText((entry.netProtocols & kNetProtocolIp) != 0 ? "auto" : "disabled");
  settings["ipv4"]["never-default"] = NmValue::ofFlag((entry.options & kOptionRemoteDefaultGateway) == 0);
  settings["ipv6"]["method"] = NmValue::ofText((entry.netProtocols & kNetProtocolIpv6) != 0 ? "auto" : "ignore");
  settings["gsm"];  // dial-up needs it; the number is set by the dial
  return settings;
}

}  // namespace

LinuxDialup::~LinuxDialup() {
  std::shared_ptr<EventThread> thread;
  {
    std::lock_guard lock(mutex_);
    thread = std::move(thread_);
  }
  if (thread) thread->stop();
}

DWORD LinuxDialup::phones(std::vector<Modem>* modems) {
  modems->clear();
  BluezSnapshot snapshot;
  const DWORD error = client_.withBus([&snapshot](sd_bus* bus, std::string*) {
    const int r = readBluezSnapshot(bus, &snapshot);
    return r == -ENOENT ? 0 : r;  // no Bluetooth daemon: no phones
  });
  if (error != 0) return error;
  std::vector<NmBluetoothDevice> nmDevices;
  client_.bluetoothDevices(&nmDevices);  // without NetworkManager the BlueZ names serve
  for (const auto& device : snapshot.devices) {
    if (!device.paired && !device.bonded) continue;
    if (std::find(device.uuids.begin(), device.uuids.end(), kDunUuid) == device.uuids.end()) continue;
    Modem modem{device.address, {}};
    for (const auto& nmDevice : nmDevices) {
      if (sameAddress(nmDevice.address, device.address) && !nmDevice.name.empty()) {
        modem.name = utf8ToWide(nmDevice.name);
        break;
      }
    }
    if (modem.name.empty()) modem.name = utf8ToWide(device.alias.empty() ? device.name : device.alias);
    modems->push_back(std::move(modem));
  }
  return 0;
}

DWORD LinuxDialup::listModems(DWORD propertyUnits, std::vector<port::ModemDevice>* modems) {
  modems->clear();
  std::vector<Modem> found;
  if (const DWORD error = phones(&found); error != 0) return error;
  for (const auto& phone : found) {
    port::ModemDevice modem;
    std::string digits = phone.address;
    std::erase(digits, ':');
    modem.address = utf8ToWide(digits);
    modem.friendlyName = phone.name;
    // A property that does not fit with its terminator fails, as a device
    // property read does.
    if (modem.address.size() + 1 > propertyUnits) {
      modem.addressError = ERROR_INSUFFICIENT_BUFFER;
      modem.address.clear();
    }
    if (utf16Length(modem.friendlyName) + 1 > propertyUnits) {
      modem.nameError = ERROR_INSUFFICIENT_BUFFER;
      modem.friendlyName.clear();
    }
    modems->push_back(std::move(modem));
  }
  return 0;
}

DWORD LinuxDialup::listConnections(std::vector<port::ActiveConnection>* connections) {
  connections->clear();
  std::vector<std::string> paths;
  if (const DWORD error = client_.activeConnections(&paths); error != 0) return error;
  std::vector<Modem> modems;
  phones(&modems);
  for (const auto& path : paths) {
    NmActive active;
    if (client_.active(path, &active) != 0) continue;  // gone meanwhile
    // A dial-up connection runs on its phone's modem; any other is named by its
    // id, which no modem name matches.
    std::wstring deviceName = utf8ToWide(active.id.empty() ? path : active.id);
    NmProfile profile;
    if (active.type == "bluetooth" && client_.profile(active.profilePath, &profile) == 0 &&
        profile.bluetoothType == "dun") {
      const std::string address = addressText(profile.bdaddr);
      for (const auto& modem : modems) {
        if (sameAddress(modem.address, address)) deviceName = modem.name;
      }
    }
    connections->push_back(port::ActiveConnection{handleOf(path), deviceName});
  }
  return 0;
}

DWORD LinuxDialup::readDefaultEntry(port::PhonebookEntry* entry) {
  // A fresh profile's defaults; the dialler must be there to take one.
  if (const DWORD error = client_.ping(); error != 0) return error;
  *entry = port::PhonebookEntry{};
  return 0;
}

DWORD LinuxDialup::writeEntry(const wchar_t* name, const port::PhonebookEntry& entry) {
  std::vector<Modem> modems;
  if (const DWORD error = phones(&modems); error != 0) return error;
  std::vector<uint8_t> address;
  for (const auto& modem : modems) {
    if (modem.name == entry.deviceName) {
      address = addressBytes(modem.address);
      break;
    }
  }
  if (address.empty()) return ERROR_NOT_FOUND;  // no phone has that modem
  const std::string id = wideToUtf8(name);
  NmSettings settings = profileSettings(entry, address);
  settings["connection"]["id"] = NmValue::ofText(id);
  // The existing profile of that name keeps its other settings.
  NmProfile existing;
  const DWORD found = client_.findProfile(id, &existing);
  if (found == 0) return client_.updateProfile(existing.path, settings);
  if (found != ERROR_NOT_FOUND) return found;
  settings["connection"]["uuid"] = NmValue::ofText(newUuid());
  std::string path;
  return client_.addProfile(settings, &path);
}

DWORD LinuxDialup::startWatch() {
  std::lock_guard lock(mutex_);
  if (thread_) return 0;
  const UINT message = notification_.registerMessage(kDialEventName);
  LinuxNotification* notification = &notification_;
  auto watch = std::make_shared<DunWatch>(
      [notification, message](HWND window, DWORD state, DWORD error) {
        notification->postMessage(window, message, state, static_cast<LPARAM>(error));
      },
      [this](HANDLE event) { setEvent(event); });
  if (const DWORD error = watch->open(); error != 0) return error;
  std::shared_ptr<EventThread> thread;
  if (const DWORD error = EventThread::start(watch, &thread); error != 0) return error;
  watch_ = std::move(watch);
  thread_ = std::move(thread);
  return 0;
}

DWORD LinuxDialup::dial(const wchar_t* entryName, const wchar_t* phoneNumber, HWND notifier,
                        port::DialConnection* connection) {
  *connection = nullptr;
  NmProfile profile;
  const DWORD found = client_.findProfile(wideToUtf8(entryName), &profile);
  if (found != 0) return found == ERROR_NOT_FOUND ? kErrorCannotFindEntry : found;
  const std::string number = wideToUtf8(phoneNumber);
  if (profile.gsmNumber != number) {
    NmSettings update;
    update["gsm"]["number"] = NmValue::ofText(number);
    if (const DWORD error = client_.updateProfile(profile.path, update); error != 0) return error;
  }
  std::string device = "/";
  std::vector<NmBluetoothDevice> devices;
  client_.bluetoothDevices(&devices);
  for (const auto& candidate : devices) {
    if (sameAddress(candidate.address, addressText(profile.bdaddr))) device = candidate.path;
  }
  // Following starts before the activation, so that none of its changes is missed.
  if (const DWORD error = startWatch(); error != 0) return error;
  std::string active;
  if (const DWORD error = client_.activate(profile.path, device, &active); error != 0) return error;
  // A new handle even when NetworkManager reuses the path of an ended connection.
  const HANDLE handle = newHandleOf(active);
  std::shared_ptr<DunWatch> watch;
  std::shared_ptr<EventThread> thread;
  {
    std::lock_guard lock(mutex_);
    watch = watch_;
    thread = thread_;
  }
  thread->run([&] { watch->track(active, handle, notifier); });
  *connection = handle;
  return 0;
}

DWORD LinuxDialup::hangUp(port::DialConnection connection) {
  const std::string path = pathOf(connection);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  // A connection seen to end is not looked for again: its path may name a
  // newer one by now.
  port::ConnectionStatus status;
  if (getStatus(connection, &status) == ERROR_INVALID_HANDLE) return ERROR_INVALID_HANDLE;
  return client_.deactivate(path);
}

DWORD LinuxDialup::getStatus(port::DialConnection connection, port::ConnectionStatus* status) {
  const std::string path = pathOf(connection);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  std::shared_ptr<DunWatch> watch;
  {
    std::lock_guard lock(mutex_);
    watch = watch_;
  }
  status->error = 0;
  if (watch) {
    const DWORD followed = watch->status(connection, &status->state);
    if (followed != ERROR_NOT_FOUND) return followed;
  }
  uint32_t state = 0;
  const DWORD error = client_.activeState(path, &state);
  // Without NetworkManager there is no connection either.
  if (error == ERROR_INVALID_HANDLE || error == ERROR_SERVICE_DOES_NOT_EXIST) return ERROR_INVALID_HANDLE;
  if (error != 0) return error;
  if (state == kDeactivated) return ERROR_INVALID_HANDLE;
  status->state = state == kActivated ? port::kRasConnected : state == kDeactivating ? port::kRasDisconnected : 0;
  return 0;
}

DWORD LinuxDialup::notifyOnChange(port::DialConnection connection, HANDLE event, DWORD flags) {
  const std::string path = pathOf(connection);
  if (path.empty()) return ERROR_INVALID_HANDLE;
  if (const DWORD error = startWatch(); error != 0) return error;
  std::shared_ptr<DunWatch> watch;
  std::shared_ptr<EventThread> thread;
  {
    std::lock_guard lock(mutex_);
    watch = watch_;
    thread = thread_;
  }
  DWORD result = ERROR_INVALID_HANDLE;
  thread->run([&] {
    if (!watch->tracks(connection)) watch->track(path, connection, nullptr);
    result = watch->notify(connection, event, flags);
  });
  return result;
}

HANDLE LinuxDialup::handleOf(const std::string& path) {
  HANDLE latest = nullptr;
  std::shared_ptr<DunWatch> watch;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(path);
    if (it != handles_.end()) latest = it->second;
    watch = watch_;
  }
  // A handle whose connection was seen to end does not name a newer one that
  // NetworkManager put at the same path.
  DWORD state = 0;
  if (latest != nullptr && (!watch || watch->status(latest, &state) != ERROR_INVALID_HANDLE)) return latest;
  return newHandleOf(path);
}

HANDLE LinuxDialup::newHandleOf(const std::string& path) {
  std::lock_guard lock(mutex_);
  const HANDLE handle = nextHandleValue();
  handles_[path] = handle;
  paths_[handle] = path;
  return handle;
}

std::string LinuxDialup::pathOf(HANDLE handle) {
  std::lock_guard lock(mutex_);
  auto it = paths_.find(handle);
  return it == paths_.end() ? std::string() : it->second;
}

DWORD LinuxDialup::createEvent(HANDLE* event) {
  *event = nullptr;
  std::unique_ptr<port::WakeEvent> created;
  if (const DWORD error = createLinuxWakeEvent(&created); error != 0) return error;
  *event = events_.add(std::shared_ptr<port::WakeEvent>(std::move(created)));
  return 0;
}

DWORD LinuxDialup::setEvent(HANDLE event) {
  auto found = events_.find(event);
  if (!found) return ERROR_INVALID_HANDLE;
  found->signal();
  return 0;
}

DWORD LinuxDialup::resetEvent(HANDLE event) {
  auto found = events_.find(event);
  if (!found) return ERROR_INVALID_HANDLE;
  found->wait(0);  // takes a pending signal, if any
  return 0;
}

DWORD LinuxDialup::waitEvent(HANDLE event, DWORD ms) {
  auto found = events_.find(event);
  if (!found) return WAIT_FAILED;
  return found->wait(ms);
}

DWORD LinuxDialup::closeEvent(HANDLE event) { return events_.remove(event) ? 0 : ERROR_INVALID_HANDLE; }

}  // namespace utils::linuxport
