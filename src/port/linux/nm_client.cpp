#include "port/linux/nm_client.h"

#include <systemd/sd-bus.h>

#include <cerrno>

#include "port/linux/nm_message.h"

namespace utils::linuxport {
namespace {

constexpr uint64_t kCallTimeoutUs = 5'000'000;
constexpr uint32_t kDeviceTypeBluetooth = 5;

bool endsWith(const std::string& text, const char* suffix) {
  const std::string tail = suffix;
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool isDeviceObject(const std::string& path) { return path.starts_with(std::string(kNmPath) + "/Devices/"); }

}  // namespace

DWORD nmError(int r, const std::string& name) {
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
    return ERROR_SERVICE_DOES_NOT_EXIST;
  }
  if (name == "org.freedesktop.DBus.Error.UnknownObject" || name == "org.freedesktop.DBus.Error.UnknownMethod" ||
      name == "org.freedesktop.DBus.Error.UnknownInterface" || endsWith(name, ".UnknownConnection") ||
      endsWith(name, ".ConnectionNotActive") || endsWith(name, ".DoesNotExist")) {
    return ERROR_INVALID_HANDLE;
  }
  if (endsWith(name, ".PermissionDenied") || name == "org.freedesktop.DBus.Error.AccessDenied") {
    return ERROR_ACCESS_DENIED;
  }
  if (!name.empty()) return ERROR_GEN_FAILURE;
  switch (-r) {
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOENT:
    case ECONNREFUSED: return ERROR_SERVICE_DOES_NOT_EXIST;  // no system bus
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    default: return ERROR_GEN_FAILURE;
  }
}

NmClient::~NmClient() {
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

DWORD NmClient::withBus(const std::function<int(sd_bus* bus, std::string* errorName)>& use) {
  std::lock_guard lock(mutex_);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (bus_ == nullptr) {
      if (sd_bus_open_system(&bus_) < 0) {
        bus_ = nullptr;
        return ERROR_SERVICE_DOES_NOT_EXIST;
      }
      sd_bus_set_method_call_timeout(bus_, kCallTimeoutUs);
    }
    std::string errorName;
    const int r = use(bus_, &errorName);
    if (r >= 0) return 0;
    if (!errorName.empty() || (r != -ECONNRESET && r != -ENOTCONN && r != -EPIPE)) return nmError(r, errorName);
    sd_bus_flush_close_unref(bus_);  // the connection was lost: made again once
    bus_ = nullptr;
  }
  return ERROR_DEVICE_NOT_CONNECTED;
}

DWORD NmClient::ping() {
  return withBus([](sd_bus* bus, std::string* errorName) {
    std::string version;
    return readTextProperty(bus, kNmPath, kNmInterface, "Version", &version, errorName);
  });
}

DWORD NmClient::bluetoothDevices(std::vector<NmBluetoothDevice>* devices) {
  devices->clear();
  return withBus([devices](sd_bus* bus, std::string* errorName) {
    std::vector<std::string> paths;
    int r = callForObjects(bus, kNmPath, kNmInterface, "GetDevices", &paths, errorName);
    if (r < 0) return r;
    for (const auto& path : paths) {
      if (!isDeviceObject(path)) continue;
      uint32_t type = 0;
      std::string ignored;
      if (readNumberProperty(bus, path.c_str(), kDeviceInterface, "DeviceType", &type, &ignored) < 0 ||
          type != kDeviceTypeBluetooth) {
        continue;
      }
      NmBluetoothDevice device;
      device.path = path;
      if (readTextProperty(bus, path.c_str(), kBluetoothInterface, "HwAddress", &device.address, &ignored) < 0) {
        readTextProperty(bus, path.c_str(), kDeviceInterface, "HwAddress", &device.address, &ignored);
      }
      readTextProperty(bus, path.c_str(), kBluetoothInterface, "Name", &device.name, &ignored);
      devices->push_back(std::move(device));
    }
    return 0;
  });
}

DWORD NmClient::activeConnections(std::vector<std::string>* paths) {
  paths->clear();
  return withBus([paths](sd_bus* bus, std::string* errorName) {
    return readObjectsProperty(bus, kNmPath, kNmInterface, "ActiveConnections", paths, errorName);
  });
}

DWORD NmClient::active(const std::string& path, NmActive* active) {
  *active = NmActive{};
  return withBus([&path, active](sd_bus* bus, std::string* errorName) {
    const char* object = path.c_str();
    int r = readNumberProperty(bus, object, kActiveInterface, "State", &active->state, errorName);
    if (r < 0) return r;
    std::string ignored;
    readTextProperty(bus, object, kActiveInterface, "Type", &active->type, &ignored);
    readTextProperty(bus, object, kActiveInterface, "Id", &active->id, &ignored);
    readPathProperty(bus, object, kActiveInterface, "Connection", &active->profilePath, &ignored);
    readObjectsProperty(bus, object, kActiveInterface, "Devices", &active->devices, &ignored);
    return 0;
  });
}

DWORD NmClient::activeState(const std::string& path, uint32_t* state) {
  return withBus([&path, state](sd_bus* bus, std::string* errorName) {
    return readNumberProperty(bus, path.c_str(), kActiveInterface, "State", state, errorName);
  });
}

DWORD NmClient::deviceState(const std::string& path, uint32_t* state) {
  return withBus([&path, state](sd_bus* bus, std::string* errorName) {
    return readNumberProperty(bus, path.c_str(), kDeviceInterface, "State", state, errorName);
  });
}

DWORD NmClient::profile(const std::string& path, NmProfile* profile) {
  *profile = NmProfile{};
  return withBus([&path, profile](sd_bus* bus, std::string* errorName) {
    profile->path = path;
    return readProfile(bus, path.c_str(), profile, errorName);
  });
}

DWORD NmClient::findProfile(const std::string& name, NmProfile* found) {
  *found = NmProfile{};
  bool matched = false;
  const DWORD error = withBus([&name, found, &matched](sd_bus* bus, std::string* errorName) {
    std::vector<std::string> paths;
    int r = callForObjects(bus, kSettingsPath, kSettingsInterface, "ListConnections", &paths, errorName);
    if (r < 0) return r;
    for (const auto& path : paths) {
      NmProfile candidate;
      candidate.path = path;
      std::string ignored;
      if (readProfile(bus, path.c_str(), &candidate, &ignored) < 0) continue;
      if (candidate.id == name && candidate.type == "bluetooth") {
        *found = std::move(candidate);
        matched = true;
        return 0;
      }
    }
    return 0;
  });
  if (error != 0) return error;
  return matched ? 0 : ERROR_NOT_FOUND;
}

DWORD NmClient::addProfile(const NmSettings& settings, std::string* path) {
  return withBus([&settings, path](sd_bus* bus, std::string* errorName) {
    return callAddConnection(bus, settings, path, errorName);
  });
}

DWORD NmClient::updateProfile(const std::string& path, const NmSettings& settings) {
  return withBus([&path, &settings](sd_bus* bus, std::string* errorName) {
    return callMergedUpdate(bus, path.c_str(), settings, errorName);
  });
}

DWORD NmClient::activate(const std::string& profile, const std::string& device, std::string* active) {
  return withBus([&](sd_bus* bus, std::string* errorName) {
    return callActivate(bus, profile.c_str(), device.empty() ? "/" : device.c_str(), active, errorName);
  });
}

DWORD NmClient::deactivate(const std::string& active) {
  return withBus([&active](sd_bus* bus, std::string* errorName) {
    return callWithPath(bus, kNmPath, kNmInterface, "DeactivateConnection", active.c_str(), errorName);
  });
}

}  // namespace utils::linuxport
