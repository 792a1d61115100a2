// The Bluetooth daemon's adapters and devices as one snapshot of its object
// tree (ObjectManager.GetManagedObjects on org.bluez), over sd-bus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct sd_bus sd_bus;

namespace utils::linuxport {

struct BluezAdapter {
  std::string path;  // /org/bluez/hciN
  std::string address, name, alias;
  uint32_t deviceClass = 0;
  bool powered = false;
};

struct BluezDevice {
  std::string path, adapter;  // the device's and its adapter's object paths
  std::string address, name, alias;
  uint32_t deviceClass = 0;
  bool paired = false, bonded = false, connected = false;
  std::vector<std::string> uuids;  // lower-case 128-bit UUID texts
};

struct BluezSnapshot {
  std::vector<BluezAdapter> adapters;  // in index order: hci0, hci1, ... hci10
  std::vector<BluezDevice> devices;
};

// Reads the snapshot. Returns 0, or a negative errno (-ENOENT when the Bluetooth
// daemon is not on the bus).
int readBluezSnapshot(sd_bus* bus, BluezSnapshot* snapshot);

// "00:11:22:33:44:55" as the 48-bit address value; false for other text.
bool parseBluezAddress(const std::string& text, uint64_t* value);

}  // namespace utils::linuxport
