// The radio port on Linux: the Bluetooth daemon (BlueZ) over D-Bus. The first
// adapter is the radio; its devices are the device list (Paired for remembered,
// Connected, Name or Alias). The controller's manufacturer and LMP subversion,
// which D-Bus does not give, come from the controller through vrlbusd, or are 0;
// they are asked once and kept while the same adapter (object path and address)
// stays.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "port/linux/bluez_objects.h"
#include "port/linux/radio_handles.h"
#include "port/radio_port.h"

namespace utils::linuxport {

class BluezRadio : public port::RadioPort {
 public:
  // Reads the controller's manufacturer and LMP subversion; false when unknown.
  using VersionSource = std::function<bool(WORD* manufacturer, WORD* lmpSubversion)>;

  // The system bus (DBUS_SYSTEM_BUS_ADDRESS when set), connected on first use.
  explicit BluezRadio(VersionSource versionSource);
  ~BluezRadio() override;
  BluezRadio(const BluezRadio&) = delete;
  BluezRadio& operator=(const BluezRadio&) = delete;

  DWORD findFirstRadio(HANDLE* search, HANDLE* radio) override;
  DWORD findRadioClose(HANDLE search) override;
  DWORD getRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) override;
  DWORD getDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) override;
  DWORD rememberedDevices(HANDLE radio, std::vector<BLUETOOTH_DEVICE_INFO>* devices) override;
  DWORD setServiceState(HANDLE radio, const BLUETOOTH_DEVICE_INFO& device, const GUID& service, DWORD state) override;
  DWORD listRadioInterfaces(std::vector<port::RadioInterface>* interfaces) override;
  DWORD openRadioInterface(const wchar_t* path, HANDLE* handle) override;
  DWORD listRadioDevices(DWORD descriptionUnits, std::vector<port::RadioDevice>* devices) override;
  DWORD close(HANDLE handle) override;

  size_t openHandleCount() const { return handles_.size(); }
  // How many times the daemon's objects were read (a cost check for tests).
  size_t snapshotCount() {
    std::lock_guard lock(busMutex_);
    return snapshots_;
  }

  // The adapter object path behind an open radio or interface handle ("" when
  // the handle is not one).
  std::string adapterPathOf(HANDLE radio) const;

  // The first adapter's address and whether it is powered. Returns 0, or
  // ERROR_NO_MORE_ITEMS when there is no adapter (or no Bluetooth daemon).
  DWORD firstAdapterState(uint64_t* address, bool* powered);

 private:
  struct Opened {
    enum class Kind { kSearch, kRadio, kInterface } kind;
    std::string adapterPath;
  };

  // A fresh snapshot of the daemon's objects. Returns 0 or a Win32 error.
  DWORD snapshot(BluezSnapshot* objects);
  // The adapter behind a radio handle in a fresh snapshot.
  DWORD adapterOf(HANDLE radio, BluezSnapshot* objects, const BluezAdapter** adapter);
  // The adapter as findFirstRadio saw it, when radio is the handle it gave
  // out a moment ago: finding the radio and describing it (the usual pair)
  // then reads the daemon's objects once. Each is used once.
  bool takeJustFound(HANDLE radio, BluezAdapter* adapter);

  // The controller version of the adapter at path with address, asked through
  // versionSource_ the first time. False when the controller cannot say.
  bool controllerVersion(const std::string& path, uint64_t address, WORD* manufacturer, WORD* lmpSubversion);

  std::mutex busMutex_;  // sd-bus connections are not thread-safe
  sd_bus* bus_ = nullptr;
  size_t snapshots_ = 0;  // GUARDED_BY(busMutex_)
  struct JustFound {
    HANDLE radio;
    BluezAdapter adapter;
    std::chrono::steady_clock::time_point when;
  };
  std::optional<JustFound> justFound_;  // GUARDED_BY(busMutex_)
  VersionSource versionSource_;
  struct KnownVersion {
    std::string adapterPath;
    uint64_t address = 0;
    WORD manufacturer = 0;
    WORD lmpSubversion = 0;
  };
  std::mutex versionMutex_;
  std::optional<KnownVersion> knownVersion_;  // GUARDED_BY(versionMutex_)
  HandleTable<Opened> handles_;
};

// The text form "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (lower case) of a GUID.
std::string guidText(const GUID& guid);

}  // namespace utils::linuxport
