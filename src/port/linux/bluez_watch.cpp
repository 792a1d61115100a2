#include "port/linux/bluez_watch.h"

#include <systemd/sd-bus.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include "port/linux/bluez_objects.h"
#include "port/linux/dbus_dict.h"

namespace utils::linuxport {
namespace {

constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kDeviceInterface = "org.bluez.Device1";

constexpr const char* kBluezName = "org.bluez";
constexpr const char* kBusName = "org.freedesktop.DBus";

// The bus sends only the signals of the daemon that owns org.bluez. A signal
// addressed to this connection by name reaches it whatever its sender, so each
// handler checks the sender too (see BluezWatch::fromBluez).
constexpr const char* kMatchAdded =
    "type='signal',sender='org.bluez',path='/',interface='org.freedesktop.DBus.ObjectManager',"
    "member='InterfacesAdded'";
constexpr const char* kMatchRemoved =
    "type='signal',sender='org.bluez',path='/',interface='org.freedesktop.DBus.ObjectManager',"
    "member='InterfacesRemoved'";
constexpr const char* kMatchConnected =
    "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
    "arg0='org.bluez.Device1',path_namespace='/org/bluez'";
// Who owns org.bluez, from the bus itself.
constexpr const char* kMatchOwner =
    "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0='org.bluez'";

// Reads the "Connected" boolean out of an a{sv}; skips the rest. 1 when found.
int readConnected(sd_bus_message* message, bool* connected) {
  int found = 0;
  const int r = forEachDictEntry(message, "sv", [&](const char* name) {
    if (std::strcmp(name, "Connected") != 0 || sd_bus_message_verify_type(message, 'v', "b") <= 0) {
      return sd_bus_message_skip(message, "v");
    }
    int value = 0;
    const int read = sd_bus_message_read(message, "v", "b", &value);
    if (read >= 0) {
      *connected = value != 0;
      found = 1;
    }
    return read;
  });
  return r < 0 ? r : found;
}

int onNameOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* watch = static_cast<BluezWatch*>(userdata);
  const char* sender = sd_bus_message_get_sender(message);
  if (sender == nullptr || std::strcmp(sender, kBusName) != 0) return 0;
  const char* name = nullptr;
  const char* previous = nullptr;
  const char* owner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &previous, &owner) < 0 || std::strcmp(name, kBluezName) != 0) {
    return 0;
  }
  watch->setBluezOwner(owner);
  return 0;
}

int onInterfacesAdded(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* watch = static_cast<BluezWatch*>(userdata);
  if (!watch->fromBluez(message)) return 0;
  const char* path = nullptr;
  if (sd_bus_message_read_basic(message, 'o', &path) < 0) return 0;
  forEachDictEntry(message, "sa{sv}", [&](const char* interface) {
    if (std::strcmp(interface, kAdapterInterface) == 0)
      watch->collect(BluezChange{BluezChange::Kind::kAdapterAdded, path, 0, false});
    return sd_bus_message_skip(message, "a{sv}");
  });
  return 0;
}

int onInterfacesRemoved(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* watch = static_cast<BluezWatch*>(userdata);
  if (!watch->fromBluez(message)) return 0;
  const char* path = nullptr;
  char** interfaces = nullptr;
  if (sd_bus_message_read_basic(message, 'o', &path) < 0) return 0;
  const std::string objectPath = path;
  if (sd_bus_message_read_strv(message, &interfaces) < 0 || interfaces == nullptr) return 0;
  for (char** name = interfaces; *name != nullptr; ++name) {
    if (std::strcmp(*name, kAdapterInterface) == 0)
      watch->collect(BluezChange{BluezChange::Kind::kAdapterRemoved, objectPath, 0, false});
    free(*name);
  }
  free(interfaces);
  return 0;
}

int onPropertiesChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* watch = static_cast<BluezWatch*>(userdata);
  if (!watch->fromBluez(message)) return 0;
  const char* interface = nullptr;
  if (sd_bus_message_read_basic(message, 's', &interface) < 0 || std::strcmp(interface, kDeviceInterface) != 0) {
    return 0;
  }
  bool connected = false;
  if (readConnected(message, &connected) <= 0) return 0;
  const char* path = sd_bus_message_get_path(message);
  uint64_t address = 0;
  if (path == nullptr || !bluezDevicePathAddress(path, &address)) return 0;
  watch->collect(BluezChange{BluezChange::Kind::kConnection, path, address, connected});
  return 0;
}

}  // namespace

bool bluezDevicePathAddress(const std::string& path, uint64_t* address) {
  const size_t at = path.rfind("/dev_");
  if (at == std::string::npos || path.size() != at + 5 + 17) return false;
  std::string text = path.substr(at + 5);
  for (size_t i = 2; i < text.size(); i += 3) {
    if (text[i] != '_') return false;
    text[i] = ':';
  }
  return parseBluezAddress(text, address);
}

int BluezWatch::open(std::unique_ptr<BluezWatch>* watch) {
  std::unique_ptr<BluezWatch> created(new BluezWatch);
  int r = sd_bus_open_system(&created->bus_);
  if (r < 0) {
    created->bus_ = nullptr;
    return r;
  }
  const struct {
    const char* match;
    sd_bus_message_handler_t handler;
  } matches[] = {{kMatchAdded, &onInterfacesAdded},
                 {kMatchRemoved, &onInterfacesRemoved},
                 {kMatchConnected, &onPropertiesChanged},
                 {kMatchOwner, &onNameOwnerChanged}};
  for (const auto& entry : matches) {
    sd_bus_slot* slot = nullptr;
    if ((r = sd_bus_add_match(created->bus_, &slot, entry.match, entry.handler, created.get())) < 0) return r;
    created->slots_.push_back(slot);
  }
  // Asked once the owner's changes are followed, so that none is missed. No
  // owner (the daemon is not running): nothing is taken until one appears.
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(created->bus_, kBusName, "/org/freedesktop/DBus", kBusName, "GetNameOwner", nullptr, &reply,
                         "s", kBluezName) >= 0) {
    const char* owner = nullptr;
    if (sd_bus_message_read(reply, "s", &owner) >= 0) created->setBluezOwner(owner);
    sd_bus_message_unref(reply);
  }
  *watch = std::move(created);
  return 0;
}

BluezWatch::~BluezWatch() {
  for (sd_bus_slot* slot : slots_) sd_bus_slot_unref(slot);
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

bool BluezWatch::fromBluez(sd_bus_message* message) const {
  const char* sender = sd_bus_message_get_sender(message);
  return sender != nullptr && !bluezOwner_.empty() && bluezOwner_ == sender;
}

int BluezWatch::fd() const { return sd_bus_get_fd(bus_); }

short BluezWatch::events() const {
  const int events = sd_bus_get_events(bus_);
  return events < 0 ? 0 : static_cast<short>(events);
}

int BluezWatch::timeoutMs() const {
  uint64_t until = 0;
  if (sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) return -1;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t nowUs = static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
  if (until <= nowUs) return 0;
  const uint64_t ms = (until - nowUs + 999) / 1000;
  return ms > 60000 ? 60000 : static_cast<int>(ms);
}

int BluezWatch::process(std::vector<BluezChange>* changes, size_t most) {
  pending_ = changes;
  int r = 0;
  while (changes->size() < most && (r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  pending_ = nullptr;
  return r < 0 ? r : 0;
}

}  // namespace utils::linuxport
