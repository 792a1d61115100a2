#include "port/linux/bluez_radio.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/utf16.h"

namespace utils::linuxport {
namespace {

constexpr uint64_t kCallTimeoutUs = 5'000'000;

DWORD busErrorToWin32(int r) {
  switch (-r) {
    case ENOENT: return ERROR_NO_MORE_ITEMS;  // no Bluetooth daemon: no radio
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ECONNREFUSED:
    case ECONNRESET:
    case ENOTCONN: return ERROR_DEVICE_NOT_CONNECTED;
    default: return ERROR_GEN_FAILURE;
  }
}

// Copies text into a 248-unit UTF-16 name field, cut to fit with its terminator.
void copyName(const std::string& text, uint16_t* name) {
  const std::u16string units = wideToUtf16(utf8ToWide(text));
  const size_t count = std::min<size_t>(units.size(), BLUETOOTH_MAX_NAME_SIZE - 1);
  std::memset(name, 0, BLUETOOTH_MAX_NAME_SIZE * sizeof(uint16_t));
  for (size_t i = 0; i < count; ++i) name[i] = units[i];
}

const std::string& shownName(const std::string& name, const std::string& alias) { return name.empty() ? alias : name; }

void fillDevice(const BluezDevice& device, BLUETOOTH_DEVICE_INFO* info) {
  const DWORD size = info->dwSize;
  std::memset(info, 0, sizeof *info);
  info->dwSize = size;
  uint64_t address = 0;
  parseBluezAddress(device.address, &address);
  info->Address.ullLong = address;
  info->ulClassofDevice = device.deviceClass;
  info->fConnected = device.connected ? TRUE : FALSE;
  info->fRemembered = device.paired || device.bonded ? TRUE : FALSE;
  info->fAuthenticated = device.paired || device.bonded ? TRUE : FALSE;
  copyName(shownName(device.name, device.alias), info->szName);
}

const BluezDevice* findDevice(const BluezSnapshot& objects, const std::string& adapterPath, uint64_t address) {
  for (const auto& device : objects.devices) {
    uint64_t value = 0;
    if (device.adapter == adapterPath && parseBluezAddress(device.address, &value) && value == address) {
      return &device;
    }
  }
  return nullptr;
}

}  // namespace

std::string guidText(const GUID& guid) {
  char text[37];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

BluezRadio::BluezRadio(VersionSource versionSource) : versionSource_(std::move(versionSource)) {}

BluezRadio::~BluezRadio() {
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

DWORD BluezRadio::snapshot(BluezSnapshot* objects) {
  std::lock_guard lock(busMutex_);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (bus_ == nullptr) {
      const int r = sd_bus_open_system(&bus_);
      if (r < 0) {
        bus_ = nullptr;
        return ERROR_NO_MORE_ITEMS;  // no system bus: no radio can be found
      }
      sd_bus_set_method_call_timeout(bus_, kCallTimeoutUs);
    }
    ++snapshots_;
    justFound_.reset();
    const int r = readBluezSnapshot(bus_, objects);
    if (r >= 0) return 0;
    if (r != -ECONNRESET && r != -ENOTCONN && r != -EPIPE) return busErrorToWin32(r);
    // The bus connection was lost: connect again once.
    sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
  }
  return ERROR_DEVICE_NOT_CONNECTED;
}

DWORD BluezRadio::adapterOf(HANDLE radio, BluezSnapshot* objects, const BluezAdapter** adapter) {
  auto opened = handles_.find(radio);
  if (opened == nullptr || opened->kind == Opened::Kind::kSearch) return ERROR_INVALID_HANDLE;
  if (const DWORD error = snapshot(objects); error != 0) return error;
  for (const auto& candidate : objects->adapters) {
    if (candidate.path == opened->adapterPath) {
      *adapter = &candidate;
      return 0;
    }
  }
  return ERROR_DEVICE_NOT_CONNECTED;  // the adapter went away
}

DWORD BluezRadio::findFirstRadio(HANDLE* search, HANDLE* radio) {
  *search = nullptr;
  *radio = nullptr;
  BluezSnapshot objects;
  if (const DWORD error = snapshot(&objects); error != 0) return error;
  if (objects.adapters.empty()) return ERROR_NO_MORE_ITEMS;
  const BluezAdapter& first = objects.adapters.front();
  *radio = handles_.add(std::make_shared<Opened>(Opened{Opened::Kind::kRadio, first.path}));
  *search = handles_.add(std::make_shared<Opened>(Opened{Opened::Kind::kSearch, first.path}));
  std::lock_guard lock(busMutex_);
  justFound_ = JustFound{*radio, first, std::chrono::steady_clock::now()};
  return 0;
}

bool BluezRadio::takeJustFound(HANDLE radio, BluezAdapter* adapter) {
  // Older than this, the daemon is asked again: the radio may have changed.
  constexpr auto kFresh = std::chrono::seconds(1);
  std::lock_guard lock(busMutex_);
  if (!justFound_ || justFound_->radio != radio) return false;
  const bool fresh = std::chrono::steady_clock::now() - justFound_->when < kFresh;
  if (fresh) *adapter = std::move(justFound_->adapter);
  justFound_.reset();
  return fresh;
}

DWORD BluezRadio::firstAdapterState(uint64_t* address, bool* powered) {
  *address = 0;
  *powered = false;
  BluezSnapshot objects;
  if (const DWORD error = snapshot(&objects); error != 0) return error;
  if (objects.adapters.empty()) return ERROR_NO_MORE_ITEMS;
  const BluezAdapter& adapter = objects.adapters.front();
  parseBluezAddress(adapter.address, address);
  *powered = adapter.powered;
  return 0;
}

DWORD BluezRadio::findRadioClose(HANDLE search) {
  auto opened = handles_.find(search);
  if (opened == nullptr || opened->kind != Opened::Kind::kSearch) return ERROR_INVALID_HANDLE;
  handles_.remove(search);
  return 0;
}

DWORD BluezRadio::getRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) {
  if (info == nullptr || info->dwSize != sizeof(BLUETOOTH_RADIO_INFO)) return ERROR_INVALID_PARAMETER;
  BluezSnapshot objects;
  BluezAdapter found;
  const BluezAdapter* adapter = &found;
  if (!takeJustFound(radio, &found)) {
    if (const DWORD error = adapterOf(radio, &objects, &adapter); error != 0) return error;
  }
  uint64_t address = 0;
  if (!parseBluezAddress(adapter->address, &address)) return ERROR_INVALID_DATA;
  std::memset(info, 0, sizeof *info);
  info->dwSize = sizeof(BLUETOOTH_RADIO_INFO);
  info->address.ullLong = address;
  copyName(shownName(adapter->alias, adapter->name), info->szName);
  info->ulClassofDevice = adapter->deviceClass;
  WORD manufacturer = 0;
  WORD subversion = 0;
  if (controllerVersion(adapter->path, address, &manufacturer, &subversion)) {
    info->manufacturer = manufacturer;
    info->lmpSubversion = subversion;
  }
  return 0;
}

bool BluezRadio::controllerVersion(const std::string& path, uint64_t address, WORD* manufacturer, WORD* lmpSubversion) {
  std::lock_guard lock(versionMutex_);
  if (!knownVersion_ || knownVersion_->adapterPath != path || knownVersion_->address != address) {
    // Another controller (or none yet): ask it. An answer that did not come is
    // asked again next time.
    knownVersion_.reset();
    KnownVersion asked{path, address, 0, 0};
    if (!versionSource_ || !versionSource_(&asked.manufacturer, &asked.lmpSubversion)) return false;
    knownVersion_ = asked;
  }
  *manufacturer = knownVersion_->manufacturer;
  *lmpSubversion = knownVersion_->lmpSubversion;
  return true;
}

DWORD BluezRadio::getDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) {
  if (info == nullptr || info->dwSize != sizeof(BLUETOOTH_DEVICE_INFO)) return ERROR_INVALID_PARAMETER;
  BluezSnapshot objects;
  const BluezAdapter* adapter = nullptr;
  if (const DWORD error = adapterOf(radio, &objects, &adapter); error != 0) return error;
  const BluezDevice* device = findDevice(objects, adapter->path, info->Address.ullLong);
  if (device == nullptr) return ERROR_NOT_FOUND;
  fillDevice(*device, info);
  return 0;
}

DWORD BluezRadio::rememberedDevices(HANDLE radio, std::vector<BLUETOOTH_DEVICE_INFO>* devices) {
  devices->clear();
  BluezSnapshot objects;
  const BluezAdapter* adapter = nullptr;
  if (const DWORD error = adapterOf(radio, &objects, &adapter); error != 0) return error;
  for (const auto& device : objects.devices) {
    if (device.adapter != adapter->path || !(device.paired || device.bonded)) continue;
    BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = sizeof info;
    fillDevice(device, &info);
    devices->push_back(info);
  }
  return 0;
}

DWORD BluezRadio::setServiceState(HANDLE radio, const BLUETOOTH_DEVICE_INFO& device, const GUID& service, DWORD state) {
  if (state != port::kBluetoothServiceEnable && state != port::kBluetoothServiceDisable) {
    return static_cast<DWORD>(E_INVALIDARG);
  }
  BluezSnapshot objects;
  const BluezAdapter* adapter = nullptr;
  if (const DWORD error = adapterOf(radio, &objects, &adapter); error != 0) return error;
  const BluezDevice* known = findDevice(objects, adapter->path, device.Address.ullLong);
  // Neither answer is final: the device may yet be found and paired.
  if (known == nullptr) return ERROR_NOT_FOUND;
  if (!(known->paired || known->bonded)) return ERROR_NOT_AUTHENTICATED;
  const std::string wanted = guidText(service);
  const bool offered = std::find(known->uuids.begin(), known->uuids.end(), wanted) != known->uuids.end();
  return offered ? 0 : ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD BluezRadio::listRadioInterfaces(std::vector<port::RadioInterface>* interfaces) {
  interfaces->clear();
  BluezSnapshot objects;
  const DWORD error = snapshot(&objects);
  if (error == ERROR_NO_MORE_ITEMS) return 0;  // no daemon: no interface present
  if (error != 0) return error;
  for (const auto& adapter : objects.adapters) interfaces->push_back(port::RadioInterface{0, utf8ToWide(adapter.path)});
  return 0;
}

DWORD BluezRadio::openRadioInterface(const wchar_t* path, HANDLE* handle) {
  *handle = INVALID_HANDLE_VALUE;
  if (path == nullptr) return ERROR_INVALID_PARAMETER;
  BluezSnapshot objects;
  if (const DWORD error = snapshot(&objects); error != 0)
    return error == ERROR_NO_MORE_ITEMS ? ERROR_FILE_NOT_FOUND : error;
  const std::string wanted = wideToUtf8(path);
  for (const auto& adapter : objects.adapters) {
    if (adapter.path == wanted) {
      *handle = handles_.add(std::make_shared<Opened>(Opened{Opened::Kind::kInterface, wanted}));
      return 0;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

DWORD BluezRadio::listRadioDevices(DWORD descriptionUnits, std::vector<port::RadioDevice>* devices) {
  devices->clear();
  BluezSnapshot objects;
  const DWORD error = snapshot(&objects);
  if (error == ERROR_NO_MORE_ITEMS) return 0;
  if (error != 0) return error;
  for (const auto& adapter : objects.adapters) {
    port::RadioDevice device;
    const std::wstring description = utf8ToWide(shownName(adapter.name, adapter.alias));
    if (description.empty()) {
      device.descriptionError = ERROR_INVALID_DATA;
    } else if (wideToUtf16(description).size() + 1 > descriptionUnits) {
      device.descriptionError = ERROR_INSUFFICIENT_BUFFER;
    } else {
      device.description = description;
    }
    devices->push_back(std::move(device));
  }
  return 0;
}

std::string BluezRadio::adapterPathOf(HANDLE radio) const {
  auto opened = handles_.find(radio);
  return opened == nullptr || opened->kind == Opened::Kind::kSearch ? std::string() : opened->adapterPath;
}

DWORD BluezRadio::close(HANDLE handle) {
  auto opened = handles_.find(handle);
  if (opened == nullptr || opened->kind == Opened::Kind::kSearch) return ERROR_INVALID_HANDLE;
  handles_.remove(handle);
  std::lock_guard lock(busMutex_);
  if (justFound_ && justFound_->radio == handle) justFound_.reset();
  return 0;
}

}  // namespace utils::linuxport
