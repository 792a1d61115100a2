// Walking D-Bus dictionaries (a{..}) in an sd-bus message being read.
#pragma once

#include <systemd/sd-bus.h>

#include <string>

namespace utils::linuxport {

// Reads a dictionary whose entries have the signature `entry` ("sv",
// "sa{sv}", "oa{sa{sv}}": a string or object path key, then the value). For
// each entry, reads the key and calls readValue(key), which must read or skip
// the entry's value and returns a negative sd-bus error to stop. Returns the
// first negative result, else 0 or more.
template <typename ReadValue>
int forEachDictEntry(sd_bus_message* message, const char* entry, ReadValue readValue) {
  const std::string array = std::string("{") + entry + "}";
  int r = sd_bus_message_enter_container(message, SD_BUS_TYPE_ARRAY, array.c_str());
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(message, SD_BUS_TYPE_DICT_ENTRY, entry)) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read_basic(message, entry[0], &key)) < 0) return r;
    if ((r = readValue(key)) < 0) return r;
    if ((r = sd_bus_message_exit_container(message)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(message);
}

}  // namespace utils::linuxport
