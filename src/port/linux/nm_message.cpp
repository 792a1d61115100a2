#include "port/linux/nm_message.h"

#include <systemd/sd-bus.h>

#include <cerrno>

#include "port/linux/dbus_dict.h"

namespace utils::linuxport {
namespace {

struct Reply {
  sd_bus_message* message = nullptr;
  ~Reply() { sd_bus_message_unref(message); }
};

struct CallError {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ~CallError() { sd_bus_error_free(&error); }
  int fail(int r, std::string* name) {
    if (sd_bus_error_is_set(&error) && error.name != nullptr) *name = error.name;
    return r;
  }
};

// Leaves reply inside the property's variant of the given type.
int getProperty(sd_bus* bus, const char* path, const char* interface, const char* name, const char* type, Reply* reply,
                std::string* errorName) {
  CallError error;
  const int r = sd_bus_get_property(bus, kNmService, path, interface, name, &error.error, &reply->message, type);
  return r < 0 ? error.fail(r, errorName) : r;
}

int readObjects(sd_bus_message* message, std::vector<std::string>* objects) {
  objects->clear();
  int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, "o");
  if (r < 0) return r;
  const char* object = nullptr;
  while ((r = sd_bus_message_read_basic(message, 'o', &object)) > 0) objects->emplace_back(object);
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

int appendValue(sd_bus_message* message, const NmValue& value) {
  switch (value.type) {
    case 's': return sd_bus_message_append(message, "v", "s", value.text.c_str());
    case 'b': return sd_bus_message_append(message, "v", "b", value.flag ? 1 : 0);
    case 'u': return sd_bus_message_append(message, "v", "u", value.number);
    default: {
      int r = sd_bus_message_open_container(message, SD_BUS_TYPE_VARIANT, "ay");
      if (r < 0) return r;
      if ((r = sd_bus_message_append_array(message, 'y', value.bytes.data(), value.bytes.size())) < 0) return r;
      return sd_bus_message_close_container(message);
    }
  }
}

int appendEntries(sd_bus_message* message, const std::map<std::string, NmValue>& entries) {
  for (const auto& [key, value] : entries) {
    int r = sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv");
    if (r < 0) return r;
    if ((r = sd_bus_message_append_basic(message, 's', key.c_str())) < 0) return r;
    if ((r = appendValue(message, value)) < 0) return r;
    if ((r = sd_bus_message_close_container(message)) < 0) return r;
  }
  return 0;
}

int openSetting(sd_bus_message* message, const std::string& name) {
  int r = sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}");
  if (r < 0) return r;
  if ((r = sd_bus_message_append_basic(message, 's', name.c_str())) < 0) return r;
  return sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sv}");
}

int closeSetting(sd_bus_message* message) {
  const int r = sd_bus_message_close_container(message);
  return r < 0 ? r : sd_bus_message_close_container(message);
}

// Appends the settings of source (positioned at its a{sa{sv}}) with the values
// of overrides put over them, then the settings only overrides has.
int appendMerged(sd_bus_message* message, sd_bus_message* source, const NmSettings& overrides) {
  static const std::map<std::string, NmValue> kNone;
  NmSettings pending = overrides;
  int r = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{sa{sv}}");
  if (r < 0) return r;
  if (source != nullptr) {
    if ((r = sd_bus_message_enter_container(source, SD_BUS_TYPE_ARRAY, "{sa{sv}}")) < 0) return r;
    while ((r = sd_bus_message_enter_container(source, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}")) > 0) {
      const char* setting = nullptr;
      if ((r = sd_bus_message_read_basic(source, 's', &setting)) < 0) return r;
      auto over = pending.find(setting);
      const auto& replaced = over == pending.end() ? kNone : over->second;
      if ((r = openSetting(message, setting)) < 0) return r;
      if ((r = sd_bus_message_enter_container(source, SD_BUS_TYPE_ARRAY, "{sv}")) < 0) return r;
      while ((r = sd_bus_message_enter_container(source, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
        const char* key = nullptr;
        if ((r = sd_bus_message_read_basic(source, 's', &key)) < 0) return r;
        if (replaced.count(key) != 0) {
          r = sd_bus_message_skip(source, "v");
        } else if ((r = sd_bus_message_open_container(message, SD_BUS_TYPE_DICT_ENTRY, "sv")) >= 0 &&
                   (r = sd_bus_message_append_basic(message, 's', key)) >= 0 &&
                   (r = sd_bus_message_copy(message, source, 0)) >= 0) {
          r = sd_bus_message_close_container(message);
        }
        if (r < 0) return r;
        if ((r = sd_bus_message_exit_container(source)) < 0) return r;
      }
      if (r < 0) return r;
      if ((r = sd_bus_message_exit_container(source)) < 0) return r;
      if ((r = appendEntries(message, replaced)) < 0) return r;
      if ((r = closeSetting(message)) < 0) return r;
      if ((r = sd_bus_message_exit_container(source)) < 0) return r;
      if (over != pending.end()) pending.erase(over);
    }
    if (r < 0) return r;
    if ((r = sd_bus_message_exit_container(source)) < 0) return r;
  }
  for (const auto& [setting, entries] : pending) {
    if ((r = openSetting(message, setting)) < 0) return r;
    if ((r = appendEntries(message, entries)) < 0) return r;
    if ((r = closeSetting(message)) < 0) return r;
  }
  return sd_bus_message_close_container(message);
}

// Reads a variant holding s or ay into text or bytes; skips any other.
int readSettingValue(sd_bus_message* message, std::string* text, std::vector<uint8_t>* bytes) {
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(message, nullptr, &contents);
  if (r < 0) return r;
  const std::string type = contents == nullptr ? "" : contents;
  if (type == "s" && text != nullptr) {
    const char* value = nullptr;
    r = sd_bus_message_read(message, "v", "s", &value);
    if (r >= 0 && value != nullptr) *text = value;
    return r;
  }
  if (type == "ay" && bytes != nullptr) {
    if ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, "ay")) < 0) return r;
    const void* data = nullptr;
    size_t size = 0;
    if ((r = sd_bus_message_read_array(message, 'y', &data, &size)) < 0) return r;
    bytes->assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return sd_bus_message_exit_container(message);
  }
  return sd_bus_message_skip(message, "v");
}

// Where a setting's key goes in the profile summary (null: not kept).
std::string* textField(NmProfile* profile, const std::string& setting, const std::string& key) {
  if (setting == "connection" && key == "id") return &profile->id;
  if (setting == "connection" && key == "type") return &profile->type;
  if (setting == "bluetooth" && key == "type") return &profile->bluetoothType;
  if (setting == "gsm" && key == "number") return &profile->gsmNumber;
  return nullptr;
}

int readSettings(sd_bus_message* reply, NmProfile* profile) {
  return forEachDictEntry(reply, "sa{sv}", [&](const char* setting) {
    return forEachDictEntry(reply, "sv", [&](const char* key) {
      const bool isAddress = std::string(setting) == "bluetooth" && std::string(key) == "bdaddr";
      return readSettingValue(reply, textField(profile, setting, key), isAddress ? &profile->bdaddr : nullptr);
    });
  });
}

int callProfileMethod(sd_bus* bus, const char* path, const char* member, Reply* reply, std::string* errorName) {
  CallError error;
  const int r = sd_bus_call_method(bus, kNmService, path, kProfileInterface, member, &error.error, &reply->message, "");
  return r < 0 ? error.fail(r, errorName) : r;
}

}  // namespace

int readTextProperty(sd_bus* bus, const char* path, const char* interface, const char* name, std::string* value,
                     std::string* errorName) {
  Reply reply;
  int r = getProperty(bus, path, interface, name, "s", &reply, errorName);
  const char* text = nullptr;
  if (r >= 0 && (r = sd_bus_message_read_basic(reply.message, 's', &text)) >= 0 && text != nullptr) *value = text;
  return r;
}

int readPathProperty(sd_bus* bus, const char* path, const char* interface, const char* name, std::string* value,
                     std::string* errorName) {
  Reply reply;
  int r = getProperty(bus, path, interface, name, "o", &reply, errorName);
  const char* text = nullptr;
  if (r >= 0 && (r = sd_bus_message_read_basic(reply.message, 'o', &text)) >= 0 && text != nullptr) *value = text;
  return r;
}

int readNumberProperty(sd_bus* bus, const char* path, const char* interface, const char* name, uint32_t* value,
                       std::string* errorName) {
  Reply reply;
  int r = getProperty(bus, path, interface, name, "u", &reply, errorName);
  if (r >= 0) r = sd_bus_message_read_basic(reply.message, 'u', value);
  return r;
}

int readObjectsProperty(sd_bus* bus, const char* path, const char* interface, const char* name,
                        std::vector<std::string>* value, std::string* errorName) {
  Reply reply;
  const int r = getProperty(bus, path, interface, name, "ao", &reply, errorName);
  return r < 0 ? r : readObjects(reply.message, value);
}

int callForObjects(sd_bus* bus, const char* path, const char* interface, const char* member,
                   std::vector<std::string>* objects, std::string* errorName) {
  Reply reply;
  CallError error;
  const int r = sd_bus_call_method(bus, kNmService, path, interface, member, &error.error, &reply.message, "");
  return r < 0 ? error.fail(r, errorName) : readObjects(reply.message, objects);
}

int callWithPath(sd_bus* bus, const char* path, const char* interface, const char* member, const char* argument,
                 std::string* errorName) {
  CallError error;
  const int r = sd_bus_call_method(bus, kNmService, path, interface, member, &error.error, nullptr, "o", argument);
  return r < 0 ? error.fail(r, errorName) : r;
}

int readProfile(sd_bus* bus, const char* path, NmProfile* profile, std::string* errorName) {
  Reply reply;
  const int r = callProfileMethod(bus, path, "GetSettings", &reply, errorName);
  return r < 0 ? r : readSettings(reply.message, profile);
}

int callAddConnection(sd_bus* bus, const NmSettings& settings, std::string* path, std::string* errorName) {
  Reply call;
  int r = sd_bus_message_new_method_call(bus, &call.message, kNmService, kSettingsPath, kSettingsInterface,
                                         "AddConnection");
  if (r < 0 || (r = appendMerged(call.message, nullptr, settings)) < 0) return r;
  Reply reply;
  CallError error;
  if ((r = sd_bus_call(bus, call.message, 0, &error.error, &reply.message)) < 0) return error.fail(r, errorName);
  const char* created = nullptr;
  if ((r = sd_bus_message_read_basic(reply.message, 'o', &created)) < 0) return r;
  *path = created;
  return 0;
}

int callMergedUpdate(sd_bus* bus, const char* path, const NmSettings& settings, std::string* errorName) {
  Reply present;
  int r = callProfileMethod(bus, path, "GetSettings", &present, errorName);
  if (r < 0) return r;
  Reply call;
  r = sd_bus_message_new_method_call(bus, &call.message, kNmService, path, kProfileInterface, "Update");
  if (r < 0 || (r = appendMerged(call.message, present.message, settings)) < 0) return r;
  CallError error;
  r = sd_bus_call(bus, call.message, 0, &error.error, nullptr);
  return r < 0 ? error.fail(r, errorName) : r;
}

int callActivate(sd_bus* bus, const char* profile, const char* device, std::string* active, std::string* errorName) {
  Reply reply;
  CallError error;
  int r = sd_bus_call_method(bus, kNmService, kNmPath, kNmInterface, "ActivateConnection", &error.error, &reply.message,
                             "ooo", profile, device, "/");
  if (r < 0) return error.fail(r, errorName);
  const char* created = nullptr;
  if ((r = sd_bus_message_read_basic(reply.message, 'o', &created)) < 0) return r;
  *active = created;
  return 0;
}

}  // namespace utils::linuxport
