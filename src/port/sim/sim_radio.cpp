#include "port/sim/sim_radio.h"

#include <algorithm>
#include <cstring>

namespace utils::sim {
namespace {

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

HANDLE asHandle(uintptr_t value) { return reinterpret_cast<HANDLE>(value); }

}  // namespace

DWORD SimRadio::injected(Op op) {
  auto it = faults_.find(op);
  if (it == faults_.end()) return ERROR_SUCCESS;
  const DWORD error = it->second;
  faults_.erase(it);
  return error;
}

bool SimRadio::isRadioHandle(HANDLE handle) const { return radios_.count(reinterpret_cast<uintptr_t>(handle)) != 0; }

DWORD SimRadio::findFirstRadio(HANDLE* search, HANDLE* radio) {
  std::lock_guard lock(mutex_);
  *search = nullptr;
  *radio = nullptr;
  if (const DWORD error = injected(Op::FindFirstRadio)) return error;
  if (!present_) return ERROR_NO_MORE_ITEMS;
  const uintptr_t searchValue = nextHandle_++;
  const uintptr_t radioValue = nextHandle_++;
  searches_.insert(searchValue);
  radios_.insert(radioValue);
  *search = asHandle(searchValue);
  *radio = asHandle(radioValue);
  return ERROR_SUCCESS;
}

DWORD SimRadio::findRadioClose(HANDLE search) {
  std::lock_guard lock(mutex_);
  return searches_.erase(reinterpret_cast<uintptr_t>(search)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD SimRadio::getRadioInfo(HANDLE radio, BLUETOOTH_RADIO_INFO* info) {
  std::lock_guard lock(mutex_);
  if (!isRadioHandle(radio)) return ERROR_INVALID_HANDLE;
  if (info == nullptr || info->dwSize != sizeof(BLUETOOTH_RADIO_INFO)) return ERROR_INVALID_PARAMETER;
  if (const DWORD error = injected(Op::GetRadioInfo)) return error;
  *info = details_;
  info->dwSize = sizeof(BLUETOOTH_RADIO_INFO);
  info->address.ullLong = address_;
  return ERROR_SUCCESS;
}

DWORD SimRadio::getDeviceInfo(HANDLE radio, BLUETOOTH_DEVICE_INFO* info) {
  std::lock_guard lock(mutex_);
  if (!isRadioHandle(radio)) return ERROR_INVALID_HANDLE;
  if (info == nullptr || info->dwSize != sizeof(BLUETOOTH_DEVICE_INFO)) return ERROR_INVALID_PARAMETER;
  if (const DWORD error = injected(Op::GetDeviceInfo)) return error;
  const BTH_ADDR address = info->Address.ullLong;
  if (devices_.count(address) == 0) return ERROR_NOT_FOUND;
  const DeviceFlags flags = flags_.count(address) ? flags_.at(address) : DeviceFlags{};
  info->fRemembered = flags.remembered ? TRUE : FALSE;
  info->fAuthenticated = flags.remembered ? TRUE : FALSE;
  info->fConnected = flags.connected ? TRUE : FALSE;
  if (auto name = names_.find(address); name != names_.end()) {
    const size_t length = std::min<size_t>(name->second.size(), BLUETOOTH_MAX_NAME_SIZE - 1);
    for (size_t i = 0; i < length; ++i) info->szName[i] = static_cast<uint16_t>(name->second[i]);
    info->szName[length] = 0;
  }
  return ERROR_SUCCESS;
}

void SimRadio::setDeviceName(BTH_ADDR address, const std::u16string& name) {
  std::lock_guard lock(mutex_);
  names_[address] = name;
}

DWORD SimRadio::rememberedDevices(HANDLE radio, std::vector<BLUETOOTH_DEVICE_INFO>* devices) {
  std::lock_guard lock(mutex_);
  devices->clear();
  if (!isRadioHandle(radio)) return ERROR_INVALID_HANDLE;
  for (const auto& entry : devices_) {
    const DeviceFlags flags = flags_.count(entry.first) ? flags_.at(entry.first) : DeviceFlags{};
    if (!flags.remembered) continue;
    BLUETOOTH_DEVICE_INFO info{};
    info.fConnected = flags.connected ? TRUE : FALSE;
    info.dwSize = sizeof info;
    info.Address.ullLong = entry.first;
    info.fRemembered = TRUE;
    info.fAuthenticated = TRUE;
    devices->push_back(info);
  }
  return ERROR_SUCCESS;
}

DWORD SimRadio::setServiceState(HANDLE radio, const BLUETOOTH_DEVICE_INFO& device, const GUID& service, DWORD state) {
  std::lock_guard lock(mutex_);
  if (!isRadioHandle(radio)) return ERROR_INVALID_HANDLE;
  calls_.push_back(ServiceCall{device.Address.ullLong, service, state});
  for (const auto& [scriptedService, result] : scripted_) {
    if (sameGuid(scriptedService, service)) return result;
  }
  if (state != port::kBluetoothServiceEnable && state != port::kBluetoothServiceDisable) {
    return static_cast<DWORD>(E_INVALIDARG);
  }
  auto it = devices_.find(device.Address.ullLong);
  if (it == devices_.end()) return ERROR_NOT_FOUND;
  const auto flags = flags_.find(device.Address.ullLong);
  if (flags != flags_.end() && !flags->second.remembered) return ERROR_NOT_AUTHENTICATED;
  for (const GUID& offered : it->second) {
    if (sameGuid(offered, service)) return ERROR_SUCCESS;
  }
  return ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD SimRadio::listRadioInterfaces(std::vector<port::RadioInterface>* interfaces) {
  std::lock_guard lock(mutex_);
  interfaces->clear();
  if (interfaceListError_ != ERROR_SUCCESS) return interfaceListError_;
  *interfaces = interfaces_;
  return ERROR_SUCCESS;
}

DWORD SimRadio::openRadioInterface(const wchar_t* path, HANDLE* handle) {
  std::lock_guard lock(mutex_);
  openedInterfaces_.emplace_back(path);
  *handle = INVALID_HANDLE_VALUE;
  if (auto it = openInterfaceErrors_.find(path); it != openInterfaceErrors_.end()) return it->second;
  bool present = false;
  for (const auto& known : interfaces_) present = present || known.path == path;
  if (!present) return ERROR_FILE_NOT_FOUND;
  const uintptr_t value = nextHandle_++;
  interfaceHandles_.insert(value);
  *handle = asHandle(value);
  return ERROR_SUCCESS;
}

DWORD SimRadio::listRadioDevices(DWORD descriptionUnits, std::vector<port::RadioDevice>* devices) {
  std::lock_guard lock(mutex_);
  devices->clear();
  if (interfaceListError_ != ERROR_SUCCESS) return interfaceListError_;
  for (const auto& description : descriptions_) {
    port::RadioDevice device;
    if (description.size() + 1 > descriptionUnits) {
      device.descriptionError = ERROR_INSUFFICIENT_BUFFER;
    } else {
      device.description = description;
    }
    devices->push_back(device);
  }
  return ERROR_SUCCESS;
}

DWORD SimRadio::close(HANDLE handle) {
  std::lock_guard lock(mutex_);
  const auto value = reinterpret_cast<uintptr_t>(handle);
  if (radios_.erase(value) == 1 || interfaceHandles_.erase(value) == 1) return ERROR_SUCCESS;
  return ERROR_INVALID_HANDLE;
}

void SimRadio::setRadio(BTH_ADDR address, bool present) {
  std::lock_guard lock(mutex_);
  address_ = address;
  present_ = present;
}

void SimRadio::addDevice(BTH_ADDR address, std::vector<GUID> services) {
  std::lock_guard lock(mutex_);
  devices_[address] = std::move(services);
}

void SimRadio::scriptService(const GUID& service, DWORD result) {
  std::lock_guard lock(mutex_);
  scripted_.emplace_back(service, result);
}

void SimRadio::failNext(Op op, DWORD error) {
  std::lock_guard lock(mutex_);
  faults_[op] = error;
}

void SimRadio::setRadioDetails(const BLUETOOTH_RADIO_INFO& details) {
  std::lock_guard lock(mutex_);
  details_ = details;
}

void SimRadio::setDeviceFlags(BTH_ADDR address, bool connected, bool remembered) {
  std::lock_guard lock(mutex_);
  flags_[address] = DeviceFlags{connected, remembered};
}

void SimRadio::setInterfaces(std::vector<port::RadioInterface> interfaces) {
  std::lock_guard lock(mutex_);
  interfaces_ = std::move(interfaces);
}

void SimRadio::failOpenInterface(const std::wstring& path, DWORD error) {
  std::lock_guard lock(mutex_);
  openInterfaceErrors_[path] = error;
}

void SimRadio::failInterfaceList(DWORD error) {
  std::lock_guard lock(mutex_);
  interfaceListError_ = error;
}

void SimRadio::setDeviceDescriptions(std::vector<std::wstring> descriptions) {
  std::lock_guard lock(mutex_);
  descriptions_ = std::move(descriptions);
}

std::vector<std::wstring> SimRadio::openedInterfaces() const {
  std::lock_guard lock(mutex_);
  return openedInterfaces_;
}

std::vector<SimRadio::ServiceCall> SimRadio::serviceCalls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

size_t SimRadio::openHandles() const {
  std::lock_guard lock(mutex_);
  return radios_.size() + searches_.size() + interfaceHandles_.size();
}

}  // namespace utils::sim
