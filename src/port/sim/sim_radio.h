// A simulated local radio with the devices it has paired: radio and device
// information, and a service switch that behaves as the Linux adapter's does
// (success when the device offers the service class, ERROR_SERVICE_DOES_NOT_EXIST
// when it does not, ERROR_NOT_AUTHENTICATED for a known device that is not
// paired, ERROR_NOT_FOUND for one the radio does not know). A test
// can take the radio away, make an operation fail, or script the switch's answer
// for one service class.
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "port/radio_port.h"

namespace utils::sim {

class SimRadio : public port::RadioPort {
 public:
  // One call of the service switch, as the radio received it.
  struct ServiceCall {
    BTH_ADDR device = 0;
    GUID service{};
    DWORD state = 0;
  };

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

  // Test controls.
  // Puts a radio with this address in place (present from the start with address 0).
  void setRadio(BTH_ADDR address, bool present = true);
  // Pairs a device that offers the given service classes.
  void addDevice(BTH_ADDR address, std::vector<GUID> services);
  // The switch answers `result` for this service class from now on, whatever the
  // device offers.
  void scriptService(const GUID& service, DWORD result);
  enum class Op { FindFirstRadio, GetRadioInfo, GetDeviceInfo };
  // The next call of op fails with error.
  void failNext(Op op, DWORD error);

  // The rest of the radio information (name, class, manufacturer,
  // lmpSubversion); the address stays the one of setRadio.
  void setRadioDetails(const BLUETOOTH_RADIO_INFO& details);
  // A known device's connection and pairing (added with addDevice; a device that
  // is not remembered is left out of rememberedDevices).
  void setDeviceFlags(BTH_ADDR address, bool connected, bool remembered);
  // A known device's name (empty until set).
  void setDeviceName(BTH_ADDR address, const std::u16string& name);
  // The radio device interfaces and the radio devices' descriptions: interfaces
  // whose detail cannot be read carry detailError; failOpenInterface makes
  // opening one path fail; failInterfaceList makes both listings fail.
  void setInterfaces(std::vector<port::RadioInterface> interfaces);
  void failOpenInterface(const std::wstring& path, DWORD error);
  void failInterfaceList(DWORD error);
  void setDeviceDescriptions(std::vector<std::wstring> descriptions);
  // The interface paths opened, in order.
  std::vector<std::wstring> openedInterfaces() const;

  std::vector<ServiceCall> serviceCalls() const;
  // Radio handles, interface handles and searches still open (a leak check for tests).
  size_t openHandles() const;

 private:
  DWORD injected(Op op);
  bool isRadioHandle(HANDLE handle) const;

  mutable std::mutex mutex_;
  bool present_ = true;
  BTH_ADDR address_ = 0;
  std::map<BTH_ADDR, std::vector<GUID>> devices_;
  std::vector<std::pair<GUID, DWORD>> scripted_;
  std::map<Op, DWORD> faults_;
  std::vector<ServiceCall> calls_;
  std::set<uintptr_t> radios_;
  std::set<uintptr_t> searches_;
  uintptr_t nextHandle_ = 0x5000;
  struct DeviceFlags {
    bool connected = false;
    bool remembered = true;
  };
  BLUETOOTH_RADIO_INFO details_{};
  std::map<BTH_ADDR, DeviceFlags> flags_;
  std::map<BTH_ADDR, std::u16string> names_;
  std::vector<port::RadioInterface> interfaces_;
  std::map<std::wstring, DWORD> openInterfaceErrors_;
  DWORD interfaceListError_ = ERROR_SUCCESS;
  std::vector<std::wstring> descriptions_;
  std::vector<std::wstring> openedInterfaces_;
  std::set<uintptr_t> interfaceHandles_;
};

}  // namespace utils::sim
