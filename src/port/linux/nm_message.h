// The sd-bus calls and message walks behind NmClient: property reads, the
// settings dictionary (a{sa{sv}}) of a profile read and written, activation.
// Each returns a negative errno or sd-bus result on failure, with the D-Bus
// error name (when the peer answered with one) in *errorName.
#pragma once

#include <string>
#include <vector>

#include "port/linux/nm_client.h"

namespace utils::linuxport {

inline constexpr const char* kNmPath = "/org/freedesktop/NetworkManager";
inline constexpr const char* kNmInterface = "org.freedesktop.NetworkManager";
inline constexpr const char* kSettingsPath = "/org/freedesktop/NetworkManager/Settings";
inline constexpr const char* kSettingsInterface = "org.freedesktop.NetworkManager.Settings";
inline constexpr const char* kProfileInterface = "org.freedesktop.NetworkManager.Settings.Connection";
inline constexpr const char* kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
inline constexpr const char* kDeviceInterface = "org.freedesktop.NetworkManager.Device";
inline constexpr const char* kBluetoothInterface = "org.freedesktop.NetworkManager.Device.Bluetooth";

int readTextProperty(sd_bus* bus, const char* path, const char* interface, const char* name, std::string* value,
                     std::string* errorName);
int readPathProperty(sd_bus* bus, const char* path, const char* interface, const char* name, std::string* value,
                     std::string* errorName);
int readNumberProperty(sd_bus* bus, const char* path, const char* interface, const char* name, uint32_t* value,
                       std::string* errorName);
int readObjectsProperty(sd_bus* bus, const char* path, const char* interface, const char* name,
                        std::vector<std::string>* value, std::string* errorName);

// A method without arguments that answers an array of object paths.
int callForObjects(sd_bus* bus, const char* path, const char* interface, const char* member,
                   std::vector<std::string>* objects, std::string* errorName);
// A method with one object path argument and no answer.
int callWithPath(sd_bus* bus, const char* path, const char* interface, const char* member, const char* argument,
                 std::string* errorName);

// GetSettings of a profile, with the fields NmProfile keeps.
int readProfile(sd_bus* bus, const char* path, NmProfile* profile, std::string* errorName);
int callAddConnection(sd_bus* bus, const NmSettings& settings, std::string* path, std::string* errorName);
// Update with the profile's present settings and these put over them.
int callMergedUpdate(sd_bus* bus, const char* path, const NmSettings& settings, std::string* errorName);
int callActivate(sd_bus* bus, const char* profile, const char* device, std::string* active, std::string* errorName);

}  // namespace utils::linuxport
