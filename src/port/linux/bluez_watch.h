// The Bluetooth daemon's changes as they happen, on a D-Bus connection of its
// own: adapters added and removed (InterfacesAdded / InterfacesRemoved of
// org.bluez.Adapter1 on /) and devices' ACL connections coming up and going
// down (PropertiesChanged of org.bluez.Device1 with Connected). Only signals
// sent by the connection that owns org.bluez count, so another client of the bus
// cannot fake a connection or an adapter. Meant for an event thread that polls
// fd() and then calls process().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct sd_bus sd_bus;
typedef struct sd_bus_slot sd_bus_slot;
typedef struct sd_bus_message sd_bus_message;

namespace utils::linuxport {

struct BluezChange {
  enum class Kind { kAdapterAdded, kAdapterRemoved, kConnection };
  Kind kind = Kind::kAdapterAdded;
  std::string path;      // the adapter's or the device's object path
  uint64_t address = 0;  // kConnection: the device's address
  bool connected = false;
};

class BluezWatch {
 public:
  // Connects to the system bus (DBUS_SYSTEM_BUS_ADDRESS when set) and asks for
  // the signals. Returns 0 and the watch, or a negative errno.
  static int open(std::unique_ptr<BluezWatch>* watch);
  ~BluezWatch();
  BluezWatch(const BluezWatch&) = delete;
  BluezWatch& operator=(const BluezWatch&) = delete;

  // What to wait for: the descriptor, its poll events, and the time in ms until
  // the connection needs attention (-1: none).
  int fd() const;
  short events() const;
  int timeoutMs() const;

  // Handles what arrived and appends the changes, in order, stopping once
  // *changes holds `most` (what is left waits for the next call; timeoutMs() is
  // then 0). Returns 0, or a negative errno when the connection is lost (the
  // watch is then finished).
  int process(std::vector<BluezChange>* changes, size_t most = SIZE_MAX);

  // Used by the signal handlers while process() runs.
  void collect(BluezChange change) {
    if (pending_ != nullptr) pending_->push_back(std::move(change));
  }
  // Whether message comes from the current owner of org.bluez.
  bool fromBluez(sd_bus_message* message) const;
  // The unique name that owns org.bluez now ("" when none).
  void setBluezOwner(const char* owner) { bluezOwner_ = owner != nullptr ? owner : ""; }

 private:
  BluezWatch() = default;

  sd_bus* bus_ = nullptr;
  std::vector<sd_bus_slot*> slots_;
  std::vector<BluezChange>* pending_ = nullptr;  // set while process() runs
  std::string bluezOwner_;
};

// The address in a device object path ".../dev_00_11_22_33_44_55"; false for
// another path.
bool bluezDevicePathAddress(const std::string& path, uint64_t* address);

}  // namespace utils::linuxport
