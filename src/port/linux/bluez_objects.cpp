#include "port/linux/bluez_objects.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "port/linux/address_text.h"
#include "port/linux/dbus_dict.h"

namespace utils::linuxport {
namespace {

constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kDeviceInterface = "org.bluez.Device1";

// One property value of the kinds the snapshot keeps.
struct Value {
  std::string text;
  uint32_t number = 0;
  bool flag = false;
  std::vector<std::string> list;
};

// Reads a variant of type s, o, u, b or as; skips any other. Returns <0 on error,
// 0 when skipped, 1 when read.
int readVariant(sd_bus_message* message, Value* value) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(message, &type, &contents);
  if (r < 0) return r;
  if (type != SD_BUS_TYPE_VARIANT || contents == nullptr) return -EBADMSG;
  const std::string inner = contents;
  if (inner != "s" && inner != "o" && inner != "u" && inner != "b" && inner != "as") {
    r = sd_bus_message_skip(message, "v");
    return r < 0 ? r : 0;
  }
  if ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, contents)) < 0) return r;
  if (inner == "s" || inner == "o") {
    const char* text = nullptr;
    r = sd_bus_message_read_basic(message, inner[0], &text);
    if (r >= 0 && text != nullptr) value->text = text;
  } else if (inner == "u") {
    r = sd_bus_message_read_basic(message, 'u', &value->number);
  } else if (inner == "b") {
    int flag = 0;
    r = sd_bus_message_read_basic(message, 'b', &flag);
    value->flag = flag != 0;
  } else {
    char** list = nullptr;
    r = sd_bus_message_read_strv(message, &list);
    if (r >= 0 && list != nullptr) {
      for (char** item = list; *item != nullptr; ++item) {
        std::string uuid = *item;
        std::transform(uuid.begin(), uuid.end(), uuid.begin(), [](unsigned char c) { return std::tolower(c); });
        value->list.push_back(std::move(uuid));
        free(*item);
      }
      free(list);
    }
  }
  if (r < 0) return r;
  r = sd_bus_message_exit_container(message);
  return r < 0 ? r : 1;
}

void applyAdapter(BluezAdapter& adapter, const std::string& name, const Value& value) {
  if (name == "Address") adapter.address = value.text;
  if (name == "Name") adapter.name = value.text;
  if (name == "Alias") adapter.alias = value.text;
  if (name == "Class") adapter.deviceClass = value.number;
  if (name == "Powered") adapter.powered = value.flag;
}

void applyDevice(BluezDevice& device, const std::string& name, const Value& value) {
  if (name == "Address") device.address = value.text;
  if (name == "Name") device.name = value.text;
  if (name == "Alias") device.alias = value.text;
  if (name == "Adapter") device.adapter = value.text;
  if (name == "Class") device.deviceClass = value.number;
  if (name == "Paired") device.paired = value.flag;
  if (name == "Bonded") device.bonded = value.flag;
  if (name == "Connected") device.connected = value.flag;
  if (name == "UUIDs") device.uuids = value.list;
}

// Reads one interface's a{sv} into the adapter or the device (or skips it).
int readProperties(sd_bus_message* message, BluezAdapter* adapter, BluezDevice* device) {
  return forEachDictEntry(message, "sv", [&](const char* name) {
    if (adapter == nullptr && device == nullptr) return sd_bus_message_skip(message, "v");
    Value value;
    const int r = readVariant(message, &value);
    if (r > 0 && adapter != nullptr) applyAdapter(*adapter, name, value);
    if (r > 0 && device != nullptr) applyDevice(*device, name, value);
    return r;
  });
}

// hci2 before hci10: shorter paths first, then by text.
bool adapterOrder(const BluezAdapter& a, const BluezAdapter& b) {
  return a.path.size() != b.path.size() ? a.path.size() < b.path.size() : a.path < b.path;
}

int readObjects(sd_bus_message* reply, BluezSnapshot* snapshot) {
  return forEachDictEntry(reply, "oa{sa{sv}}", [&](const char* path) {
    return forEachDictEntry(reply, "sa{sv}", [&](const char* interface) {
      if (std::strcmp(interface, kAdapterInterface) == 0) {
        BluezAdapter adapter;
        adapter.path = path;
        const int r = readProperties(reply, &adapter, nullptr);
        if (r >= 0) snapshot->adapters.push_back(std::move(adapter));
        return r;
      }
      if (std::strcmp(interface, kDeviceInterface) == 0) {
        BluezDevice device;
        device.path = path;
        const int r = readProperties(reply, nullptr, &device);
        if (r >= 0) snapshot->devices.push_back(std::move(device));
        return r;
      }
      return readProperties(reply, nullptr, nullptr);
    });
  });
}

}  // namespace

int readBluezSnapshot(sd_bus* bus, BluezSnapshot* snapshot) {
  *snapshot = BluezSnapshot{};
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus, "org.bluez", "/", "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", &error,
                             &reply, "");
  if (r < 0) {
    // The daemon not on the bus is "no radio", not a failure of the bus.
    if (sd_bus_error_has_name(&error, SD_BUS_ERROR_SERVICE_UNKNOWN) ||
        sd_bus_error_has_name(&error, SD_BUS_ERROR_NAME_HAS_NO_OWNER)) {
      r = -ENOENT;
    }
    sd_bus_error_free(&error);
    return r;
  }
  r = readObjects(reply, snapshot);
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  if (r < 0) {
    *snapshot = BluezSnapshot{};
    return r;
  }
  std::sort(snapshot->adapters.begin(), snapshot->adapters.end(), adapterOrder);
  return 0;
}

bool parseBluezAddress(const std::string& text, uint64_t* value) { return parseColonAddress(text, value); }

}  // namespace utils::linuxport
