// NetworkManager's D-Bus interface as the dial-up adapter uses it: Bluetooth
// devices, connection profiles, activation and active connections. One system
// bus connection, shared by the calling threads under a lock; a lost connection
// is made again once per call. Results are Win32 error codes:
// ERROR_SERVICE_DOES_NOT_EXIST when NetworkManager is not on the bus,
// ERROR_INVALID_HANDLE for an object it does not know (or no longer knows).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "utils/wintypes.h"

typedef struct sd_bus sd_bus;

namespace utils::linuxport {

inline constexpr const char* kNmService = "org.freedesktop.NetworkManager";

// NetworkManager's device for a Bluetooth peer.
struct NmBluetoothDevice {
  std::string path;
  std::string address;  // "00:11:22:33:44:55"
  std::string name;
};

// What the adapter reads of a connection profile.
struct NmProfile {
  std::string path;
  std::string id, type, bluetoothType, gsmNumber;
  std::vector<uint8_t> bdaddr;  // 6 bytes when set
};

// An active connection.
struct NmActive {
  std::string type, id, profilePath;
  uint32_t state = 0;
  std::vector<std::string> devices;
};

// One value written into a profile setting.
struct NmValue {
  char type = 's';  // 's', 'b', 'u' or 'y' (an array of bytes)
  std::string text;
  bool flag = false;
  uint32_t number = 0;
  std::vector<uint8_t> bytes;
  static NmValue ofText(std::string text) { return NmValue{'s', std::move(text), false, 0, {}}; }
  static NmValue ofFlag(bool flag) { return NmValue{'b', {}, flag, 0, {}}; }
  static NmValue ofBytes(std::vector<uint8_t> bytes) { return NmValue{'y', {}, false, 0, std::move(bytes)}; }
};
// Setting name -> key -> value.
using NmSettings = std::map<std::string, std::map<std::string, NmValue>>;

class NmClient {
 public:
  NmClient() = default;
  ~NmClient();
  NmClient(const NmClient&) = delete;
  NmClient& operator=(const NmClient&) = delete;

  // Runs use with the bus connection, under the lock (opening it when needed).
  // use returns a negative errno or sd-bus result; the connection is made
  // again once when it was lost. Returns the Win32 code of the result.
  DWORD withBus(const std::function<int(sd_bus* bus, std::string* errorName)>& use);

  // Whether NetworkManager answers (its Version property reads).
  DWORD ping();
  DWORD bluetoothDevices(std::vector<NmBluetoothDevice>* devices);
  DWORD activeConnections(std::vector<std::string>* paths);
  DWORD active(const std::string& path, NmActive* active);
  DWORD activeState(const std::string& path, uint32_t* state);
  DWORD deviceState(const std::string& path, uint32_t* state);
  DWORD profile(const std::string& path, NmProfile* profile);
  // The first Bluetooth profile whose id is name; ERROR_NOT_FOUND when none.
  DWORD findProfile(const std::string& name, NmProfile* profile);
  // Adds a profile with these settings.
  DWORD addProfile(const NmSettings& settings, std::string* path);
  // Replaces a profile's settings by its present ones with these put over them.
  DWORD updateProfile(const std::string& path, const NmSettings& settings);
  DWORD activate(const std::string& profile, const std::string& device, std::string* active);
  DWORD deactivate(const std::string& active);

 private:
  std::mutex mutex_;
  sd_bus* bus_ = nullptr;
};

// The Win32 code for a failed call: its D-Bus error name when there is one,
// else the negative errno r.
DWORD nmError(int r, const std::string& errorName);

}  // namespace utils::linuxport
