#include "port/linux/dun_watch.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "port/dialup_port.h"
#include "port/linux/dbus_dict.h"
#include "port/linux/nm_message.h"

namespace utils::linuxport {
namespace {

// NetworkManager's active connection and device states.
constexpr uint32_t kActivating = 1;
constexpr uint32_t kActivated = 2;
constexpr uint32_t kDeactivating = 3;
constexpr uint32_t kDeactivated = 4;
constexpr uint32_t kDeviceConfig = 50;
constexpr uint32_t kDeviceActivated = 100;

// Dial errors (the Remote Access Service's codes of the same meaning).
constexpr DWORD kErrorCannotFindEntry = 623;
constexpr DWORD kErrorDisconnection = 628;
constexpr DWORD kErrorFromDevice = 651;
constexpr DWORD kErrorAuthenticationFailure = 691;
constexpr DWORD kErrorPppTimeout = 718;
constexpr DWORD kErrorNoProtocols = 720;

constexpr const char* kMatchNm = "type='signal',sender='org.freedesktop.NetworkManager'";
constexpr const char* kMatchOwner =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',"
    "arg0='org.freedesktop.NetworkManager'";

DunWatch* watchOf(void* userdata) { return static_cast<DunWatch*>(userdata); }

// PropertiesChanged: the State in the changed properties, if any.
bool changedState(sd_bus_message* message, const char** interface, uint32_t* state) {
  if (sd_bus_message_read_basic(message, 's', interface) < 0) return false;
  bool found = false;
  const int r = forEachDictEntry(message, "sv", [&](const char* name) {
    const char* contents = nullptr;
    if (std::strcmp(name, "State") == 0 && sd_bus_message_peek_type(message, nullptr, &contents) >= 0 &&
        contents != nullptr && std::strcmp(contents, "u") == 0) {
      const int read = sd_bus_message_read(message, "v", "u", state);
      found = read >= 0;
      return read;
    }
    return sd_bus_message_skip(message, "v");
  });
  return r >= 0 && found;
}

int onNmSignal(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
  DunWatch* watch = watchOf(userdata);
  const std::string interface = sd_bus_message_get_interface(message) ? sd_bus_message_get_interface(message) : "";
  const std::string member = sd_bus_message_get_member(message) ? sd_bus_message_get_member(message) : "";
  const std::string path = sd_bus_message_get_path(message) ? sd_bus_message_get_path(message) : "";
  uint32_t state = 0;
  uint32_t reason = 0;
  if (interface == kActiveInterface && member == "StateChanged") {
    if (sd_bus_message_read(message, "uu", &state, &reason) >= 0) watch->onActiveState(path, state, reason);
  } else if (interface == kDeviceInterface && member == "StateChanged") {
    if (sd_bus_message_read_basic(message, 'u', &state) >= 0) watch->onDeviceState(path, state);
  } else if (interface == "org.freedesktop.DBus.Properties" && member == "PropertiesChanged") {
    const char* changed = nullptr;
    if (!changedState(message, &changed, &state)) return 0;
    if (std::string(changed) == kActiveInterface) watch->onActiveState(path, state, 0);
    if (std::string(changed) == kDeviceInterface) watch->onDeviceState(path, state);
  } else if (interface == "org.freedesktop.DBus.ObjectManager" && member == "InterfacesRemoved") {
    const char* removed = nullptr;
    if (sd_bus_message_read_basic(message, 'o', &removed) >= 0) watch->onRemoved(removed);
  }
  return 0;
}

int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error* /*error*/) {
  const char* name = nullptr;
  const char* before = nullptr;
  const char* after = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &before, &after) >= 0 && after != nullptr && *after == '\0') {
    watchOf(userdata)->onServiceGone();
  }
  return 0;
}

}  // namespace

DWORD dialErrorOfReason(uint32_t reason) {
  switch (reason) {
    case 0:  // unknown
    case 1:  // none
    case 2:  // the user disconnected
      return 0;
    case 3:   // the device disconnected
    case 14:  // the device was removed
      return kErrorDisconnection;
    case 5: return kErrorNoProtocols;  // IP configuration invalid
    case 6:                            // connect timeout
    case 7: return kErrorPppTimeout;   // service start timeout
    case 9:                            // no secrets
    case 10: return kErrorAuthenticationFailure;
    case 11: return kErrorCannotFindEntry;  // the profile was removed
    default: return kErrorFromDevice;
  }
}

DunWatch::~DunWatch() { dropBus(); }

void DunWatch::dropBus() {
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
  bus_ = nullptr;
}

DWORD DunWatch::open() {
  if (sd_bus_open_system(&bus_) < 0) {
    bus_ = nullptr;
    return ERROR_SERVICE_DOES_NOT_EXIST;
  }
  // Floating matches: they end with the connection.
  if (sd_bus_add_match(bus_, nullptr, kMatchNm, &onNmSignal, this) < 0 ||
      sd_bus_add_match(bus_, nullptr, kMatchOwner, &onOwnerChanged, this) < 0) {
    dropBus();
    return ERROR_SERVICE_DOES_NOT_EXIST;
  }
  return 0;
}

void DunWatch::track(const std::string& path, HANDLE handle, HWND notifier) {
  if (bus_ == nullptr) open();  // the system bus went away since: connect again
  Tracked fresh;
  fresh.path = path;
  fresh.notifier = notifier;
  uint32_t state = kDeactivated;
  std::vector<uint32_t> deviceStates;
  std::string errorName;
  const bool readable =
      bus_ != nullptr && readNumberProperty(bus_, path.c_str(), kActiveInterface, "State", &state, &errorName) >= 0;
  if (readable) {
    readObjectsProperty(bus_, path.c_str(), kActiveInterface, "Devices", &fresh.devices, &errorName);
    for (const auto& device : fresh.devices) {
      uint32_t deviceState = 0;
      if (readNumberProperty(bus_, device.c_str(), kDeviceInterface, "State", &deviceState, &errorName) >= 0) {
        deviceStates.push_back(deviceState);
      }
    }
  }
  std::lock_guard lock(mutex_);
  auto [it, added] = tracked_.try_emplace(handle, std::move(fresh));
  Tracked& tracked = it->second;
  if (!added) {
    if (notifier != nullptr) tracked.notifier = notifier;
    return;
  }
  if (!readable) {
    // Gone before it could be followed: a dial that ended at once.
    end(tracked, errorName.empty() || nmError(-1, errorName) == ERROR_INVALID_HANDLE ? kErrorDisconnection
                                                                                     : ERROR_SERVICE_DOES_NOT_EXIST);
    return;
  }
  apply(tracked, state, 0);
  if (tracked.state == kActivating) {
    for (uint32_t deviceState : deviceStates) {
      if (deviceState >= kDeviceConfig && deviceState <= kDeviceActivated) reachLink(tracked);
    }
  }
}

bool DunWatch::tracks(HANDLE handle) const {
  std::lock_guard lock(mutex_);
  return tracked_.count(handle) != 0;
}

DWORD DunWatch::notify(HANDLE handle, HANDLE event, DWORD flags) {
  std::lock_guard lock(mutex_);
  auto it = tracked_.find(handle);
  if (it == tracked_.end() || it->second.gone) return ERROR_INVALID_HANDLE;
  it->second.events.emplace_back(event, flags);
  return 0;
}

DWORD DunWatch::status(HANDLE handle, DWORD* state) const {
  std::lock_guard lock(mutex_);
  auto it = tracked_.find(handle);
  if (it == tracked_.end()) return ERROR_NOT_FOUND;
  const Tracked& tracked = it->second;
  if (tracked.gone) return ERROR_INVALID_HANDLE;
  switch (tracked.state) {
    case kActivated: *state = port::kRasConnected; break;
    case kDeactivating: *state = port::kRasDisconnected; break;
    case kActivating: *state = tracked.linkUp ? port::kRasDeviceConnected : 0; break;
    default: *state = 0; break;
  }
  return 0;
}

void DunWatch::preparePoll(std::vector<pollfd>* fds, int* timeoutMs) {
  if (bus_ == nullptr) return;
  const int events = sd_bus_get_events(bus_);
  fds->push_back(pollfd{sd_bus_get_fd(bus_), static_cast<short>(events < 0 ? 0 : events), 0});
  uint64_t until = 0;
  if (sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t nowUs = static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
  const uint64_t ms = until <= nowUs ? 0 : std::min<uint64_t>((until - nowUs + 999) / 1000, 60000);
  if (*timeoutMs < 0 || static_cast<int>(ms) < *timeoutMs) *timeoutMs = static_cast<int>(ms);
}

void DunWatch::afterPoll(const pollfd* /*fds*/, size_t /*count*/) {
  if (bus_ == nullptr) return;
  int r = 0;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  if (r < 0) {
    // The system bus went away, and NetworkManager with it.
    dropBus();
    onServiceGone();
  }
}

DunWatch::Tracked* DunWatch::byPath(const std::string& path) {
  // Ended connections keep their record; a path may have been given again since.
  for (auto& [handle, tracked] : tracked_) {
    if (tracked.path == path && !tracked.gone) return &tracked;
  }
  return nullptr;
}

void DunWatch::onActiveState(const std::string& path, uint32_t state, uint32_t reason) {
  std::lock_guard lock(mutex_);
  if (Tracked* tracked = byPath(path)) apply(*tracked, state, reason);
}

void DunWatch::onDeviceState(const std::string& path, uint32_t state) {
  std::lock_guard lock(mutex_);
  for (auto& [handle, tracked] : tracked_) {
    if (tracked.gone || tracked.state != kActivating) continue;
    if (std::find(tracked.devices.begin(), tracked.devices.end(), path) == tracked.devices.end()) continue;
    if (state >= kDeviceConfig && state <= kDeviceActivated) reachLink(tracked);
  }
}

void DunWatch::onRemoved(const std::string& path) {
  std::lock_guard lock(mutex_);
  Tracked* tracked = byPath(path);
  if (tracked == nullptr || tracked->gone) return;
  // Gone without a last state: an ended connection, or a dial that never came up.
  end(*tracked, tracked->state == kActivated || tracked->state == kDeactivating ? 0 : kErrorDisconnection);
}

void DunWatch::onServiceGone() {
  std::lock_guard lock(mutex_);
  for (auto& [handle, tracked] : tracked_) {
    if (!tracked.gone) end(tracked, ERROR_SERVICE_DOES_NOT_EXIST);
  }
}

void DunWatch::apply(Tracked& tracked, uint32_t state, uint32_t reason) {
  if (tracked.gone || state == tracked.state) return;
  const uint32_t before = tracked.state;
  tracked.state = state;
  switch (state) {
    case kActivated:
      reachLink(tracked);
      post(tracked, port::kRasConnected, 0);
      signal(tracked, port::kRasNotifyConnection);
      break;
    case kDeactivating:
      if (before == kActivated) signal(tracked, port::kRasNotifyDisconnection);
      break;
    case kDeactivated: end(tracked, dialErrorOfReason(reason)); break;
    default: break;
  }
}

void DunWatch::reachLink(Tracked& tracked) {
  if (tracked.linkUp) return;
  tracked.linkUp = true;
  post(tracked, port::kRasDeviceConnected, 0);
}

void DunWatch::end(Tracked& tracked, DWORD error) {
  tracked.gone = true;
  post(tracked, port::kRasDisconnected, error);
  signal(tracked, port::kRasNotifyDisconnection);
}

void DunWatch::post(const Tracked& tracked, DWORD state, DWORD error) {
  if (tracked.notifier != nullptr) post_(tracked.notifier, state, error);
}

void DunWatch::signal(const Tracked& tracked, DWORD flag) {
  for (const auto& [event, flags] : tracked.events) {
    if ((flags & flag) != 0) signal_(event);
  }
}

}  // namespace utils::linuxport
