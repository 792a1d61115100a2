// The Linux radio adapters and the library's radio functions on real
// components: BlueZ mocked by python3-dbusmock on a private system bus, and
// vrlbusd --emulate as the bus driver. The socket probe asks for a usable
// radio, the change watch takes signals from the Bluetooth daemon only, the
// controller's version is asked once per adapter, the library's requests reach
// the bus daemon and its answers come back, a process may end without
// uninitialising, and UTILS_EnableNewServices enables what a paired device
// offers. The tests run in order, on the adapters and devices that the ones
// before left.
#include <gtest/gtest.h>
#include <poll.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <utility>

#include "port/linux/bluez_radio.h"
#include "port/linux/bluez_watch.h"
#include "port/linux/rfcomm_probe.h"
#include "radio_test_env.h"
#include "utils/policy.h"
#include "utils/radio.h"
#include "utils/registry.h"
#include "vrlbusd_client.h"

namespace utils::test {
namespace {

constexpr const char* kDevicePath = "/org/bluez/hci0/dev_11_22_33_44_55_01";

class BluezRadioTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram(vrlbusdPath());
    daemon_ = new EmulatedBusDaemon({"--manufacturer", "0x1D", "--lmp-subversion", "0x2209"});
    session_ = new BluezSession(daemon_->socketPath(), false, false);  // no adapter yet
  }
  static void TearDownTestSuite() {
    delete session_;
    delete daemon_;
  }

  static BluezSession* session_;
  static EmulatedBusDaemon* daemon_;
};

BluezSession* BluezRadioTest::session_ = nullptr;
EmulatedBusDaemon* BluezRadioTest::daemon_ = nullptr;

// Processes the watch until count changes have arrived (or 5 s pass); returns
// what came.
std::vector<linuxport::BluezChange> nextChanges(linuxport::BluezWatch& watch, size_t count) {
  std::vector<linuxport::BluezChange> changes;
  waitUntil(
      [&] {
        pollfd entry{watch.fd(), watch.events(), 0};
        const int timeout = watch.timeoutMs();
        ::poll(&entry, 1, timeout < 0 || timeout > 100 ? 100 : timeout);
        return watch.process(&changes) < 0 || changes.size() >= count;
      },
      5000);
  return changes;
}

// Another client of the bus: it sends signals that only the Bluetooth daemon
// should send, to everyone and to each connection by name, claiming first that
// it owns org.bluez now.
class Impostor {
 public:
  Impostor() { EXPECT_GE(sd_bus_open_system(&bus_), 0); }
  ~Impostor() { sd_bus_flush_close_unref(bus_); }

  void fakeEverything() {
    const char* self = nullptr;
    ASSERT_GE(sd_bus_get_unique_name(bus_, &self), 0);
    std::vector<std::string> targets{""};  // "": a broadcast
    sd_bus_message* reply = nullptr;
    ASSERT_GE(sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "ListNames", nullptr, &reply, ""),
              0);
    char** names = nullptr;
    ASSERT_GE(sd_bus_message_read_strv(reply, &names), 0);
    for (char** name = names; *name != nullptr; ++name) {
      if ((*name)[0] == ':' && std::string(*name) != self) targets.push_back(*name);
      free(*name);
    }
    free(names);
    sd_bus_message_unref(reply);
    for (const auto& target : targets) {
      emit(target, "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged",
           [self](sd_bus_message* m) { return sd_bus_message_append(m, "sss", "org.bluez", "", self); });
      emit(target, kDevicePath, "org.freedesktop.DBus.Properties", "PropertiesChanged", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "sa{sv}as", "org.bluez.Device1", 1, "Connected", "b", 1, 0);
      });
      emit(target, "/", "org.freedesktop.DBus.ObjectManager", "InterfacesAdded", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "oa{sa{sv}}", "/org/bluez/hci7", 1, "org.bluez.Adapter1", 1, "Powered", "b", 1);
      });
      emit(target, "/", "org.freedesktop.DBus.ObjectManager", "InterfacesRemoved", [](sd_bus_message* m) {
        return sd_bus_message_append(m, "oas", "/org/bluez/hci0", 1, "org.bluez.Adapter1");
      });
    }
    // A round trip: the bus has handled every signal above once it answers.
    ASSERT_GE(sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                                 nullptr, &reply, ""),
              0);
    sd_bus_message_unref(reply);
  }

 private:
  template <class Append>
  void emit(const std::string& destination, const char* path, const char* interface, const char* member,
            Append append) {
    sd_bus_message* message = nullptr;
    ASSERT_GE(sd_bus_message_new_signal(bus_, &message, path, interface, member), 0);
    if (!destination.empty()) {
      ASSERT_GE(sd_bus_message_set_destination(message, destination.c_str()), 0);
    }
    EXPECT_GE(append(message), 0);
    EXPECT_GE(sd_bus_send(bus_, message, nullptr), 0);
    sd_bus_message_unref(message);
  }

  sd_bus* bus_ = nullptr;
};

// Runs first: the bus has no adapter yet.
TEST_F(BluezRadioTest, TheControllerIsAskedItsVersionOnceWhileTheAdapterStays) {
  int asked = 0;
  bool answers = false;
  linuxport::BluezRadio radio([&](WORD* manufacturer, WORD* subversion) {
    ++asked;
    *manufacturer = 0x1D;
    *subversion = static_cast<WORD>(0x100 + asked);
    return answers;
  });
  // An adapter of its own, the only one.
  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci4", "string:Versioned Radio"}));
  HANDLE search = nullptr, handle = nullptr;
  ASSERT_EQ(0u, radio.findFirstRadio(&search, &handle));
  BLUETOOTH_RADIO_INFO info{};
  const auto read = [&] {
    info = BLUETOOTH_RADIO_INFO{};
    info.dwSize = sizeof info;
    EXPECT_EQ(0u, radio.getRadioInfo(handle, &info));
  };
  // A controller that cannot say is asked again next time; one that answered is not.
  for (int i = 0; i < 2; ++i) read();
  EXPECT_EQ(2, asked);
  EXPECT_EQ(0u, info.manufacturer);
  answers = true;
  for (int i = 0; i < 3; ++i) read();
  EXPECT_EQ(3, asked);
  EXPECT_EQ(0x1Du, info.manufacturer);
  EXPECT_EQ(0x103u, info.lmpSubversion);
  EXPECT_EQ(0u, radio.close(handle));
  EXPECT_EQ(0u, radio.findRadioClose(search));
  // Another adapter in its place: asked again.
  ASSERT_TRUE(session_->bluez.mock("RemoveAdapter", {"string:hci4"}));
  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci5", "string:Other Radio"}));
  ASSERT_EQ(0u, radio.findFirstRadio(&search, &handle));
  read();
  EXPECT_EQ(4, asked);
  EXPECT_EQ(0x104u, info.lmpSubversion);
  EXPECT_EQ(0u, radio.close(handle));
  EXPECT_EQ(0u, radio.findRadioClose(search));
  ASSERT_TRUE(session_->bluez.mock("RemoveAdapter", {"string:hci5"}));
}

TEST_F(BluezRadioTest, TheSocketProbeNeedsAPoweredAdapter) {
  linuxport::BluezRadio radio([](WORD*, WORD*) { return false; });
  linuxport::LinuxRfcomm rfcomm(
      [&radio](uint64_t* address, bool* powered) { return radio.firstAdapterState(address, powered); });
  port::RfcommProbe probe;
  EXPECT_EQ(linuxport::kWsaAddressNotAvailable, rfcomm.probe(&probe)) << "no adapter";
  EXPECT_EQ(port::RfcommProbeStep::kBind, probe.failedStep);
  EXPECT_EQ(0u, probe.socket);

  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci0", "string:Test Radio"}));
  ASSERT_TRUE(session_->bluez.setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", "<false>"));
  EXPECT_EQ(linuxport::kWsaNetworkDown, rfcomm.probe(&probe)) << "adapter powered off";
  EXPECT_EQ(port::RfcommProbeStep::kBind, probe.failedStep);

  // Powered: the socket itself is tried, bound to the adapter's address. Where
  // the kernel has Bluetooth but not this (mocked) adapter, that bind fails.
  ASSERT_TRUE(session_->bluez.setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", "<true>"));
  uint64_t address = 0;
  bool powered = false;
  ASSERT_EQ(0u, radio.firstAdapterState(&address, &powered));
  EXPECT_EQ(0x000102030405ULL, address);
  EXPECT_TRUE(powered);
  const DWORD error = rfcomm.probe(&probe);
  if (probe.failedStep == port::RfcommProbeStep::kSocket) {
    EXPECT_TRUE(error == 10047 || error == 10043 || error == 10044) << error;
  } else {
    EXPECT_EQ(port::RfcommProbeStep::kBind, probe.failedStep);
    EXPECT_EQ(linuxport::kWsaAddressNotAvailable, error);
    EXPECT_NE(0u, probe.socket);
  }
  ASSERT_TRUE(session_->bluez.mock("AddDevice", {"string:hci0", "string:11:22:33:44:55:01", "string:Phone"}));
}

TEST_F(BluezRadioTest, TheWatchTakesSignalsFromTheBluetoothDaemonOnly) {
  std::unique_ptr<linuxport::BluezWatch> watch;
  ASSERT_EQ(0, linuxport::BluezWatch::open(&watch));
  Impostor impostor;
  impostor.fakeEverything();
  // The daemon's own change comes after every fake one; it is the only one seen.
  ASSERT_TRUE(session_->bluez.mock("ConnectDevice", {"string:hci0", "string:11:22:33:44:55:01"}));
  auto changes = nextChanges(*watch, 1);
  ASSERT_EQ(1u, changes.size());
  EXPECT_EQ(linuxport::BluezChange::Kind::kConnection, changes[0].kind);
  EXPECT_EQ(kDevicePath, changes[0].path);
  EXPECT_TRUE(changes[0].connected);

  ASSERT_TRUE(session_->bluez.mock("DisconnectDevice", {"string:hci0", "string:11:22:33:44:55:01"}));
  impostor.fakeEverything();
  ASSERT_TRUE(session_->bluez.mock("AddAdapter", {"string:hci1", "string:Second Radio"}));
  changes = nextChanges(*watch, 2);
  ASSERT_EQ(2u, changes.size());
  EXPECT_FALSE(changes[0].connected);
  EXPECT_EQ(linuxport::BluezChange::Kind::kAdapterAdded, changes[1].kind);
  EXPECT_EQ("/org/bluez/hci1", changes[1].path);
  ASSERT_TRUE(session_->bluez.mock("RemoveAdapter", {"string:hci1"}));

  // The devices of the radio functions below: three paired, one known and
  // connected but not paired (not remembered).
  ASSERT_TRUE(session_->bluez.mock("PairDevice", {"string:hci0", "string:11:22:33:44:55:01", "uint32:5898764"}));
  for (const char* address : {"11:22:33:44:55:02", "11:22:33:44:55:03"}) {
    ASSERT_TRUE(session_->addDevice(address, "Phone", true));
  }
  ASSERT_TRUE(session_->addDevice("11:22:33:44:55:09", "Stranger"));
  ASSERT_TRUE(session_->connect("11:22:33:44:55:09"));
}

TEST_F(BluezRadioTest, TheRadioFunctionsFindTheRadioAndReachTheDaemon) {
  BLUETOOTH_RADIO_INFO info{};
  HANDLE radio = EnumerateFirstBthRadioHandle(&info);
  ASSERT_NE(nullptr, radio);
  EXPECT_EQ(0x000102030405ULL, info.address.ullLong) << "dbusmock names hci0 00:01:02:03:04:05";
  EXPECT_EQ(0x1Du, info.manufacturer);
  EXPECT_EQ(0x2209u, info.lmpSubversion);
  EXPECT_EQ(u'T', info.szName[0]);
  EXPECT_EQ(TRUE, CloseHandle(radio));
  EXPECT_EQ(FALSE, CloseHandle(radio));

  HANDLE bus = OpenBusHandle();
  ASSERT_NE(nullptr, bus);
  EXPECT_EQ(TRUE, CloseHandle(bus));

  // Through the bus adapter to the daemon and back (the request's layout:
  // unit_radio): the answer, and the paired count (three paired devices) that
  // is answered without output.
  const BYTE parameters[] = {0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03};
  BYTE answer[16] = {};
  ASSERT_EQ(0u, SendVendorHCICmdEx(0xFC59, 7, parameters, TRUE, 0xAA, answer, sizeof answer));
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x59, 0xFC, 0}), Bytes(answer, answer + 6));
  NotifyDriverPairedDeviceNum();
  EXPECT_NE(std::string::npos, daemon_->log().find("paired device count 3")) << daemon_->log();

  // On a machine without kernel Bluetooth.
  EXPECT_EQ(1u, DeviceIsVorlane()) << "the adapter has a name";
  SetDeviceRemoveFlag(2);
  EXPECT_EQ(1u, BtDriverIsReady()) << "the radio interface opens; the remove flag counts as ready";
  SetDeviceRemoveFlag(0);
  const DWORD stack = CheckBtStackIsStart();
  if (runProgram({"sh", "-c", "test -d /sys/class/bluetooth"}, {}) != 0) {
    EXPECT_EQ(0u, stack) << "no AF_BLUETOOTH sockets here";
  }
}

TEST_F(BluezRadioTest, DevicesServiceSwitchAndListings) {
  linuxport::BluezRadio radioPort(nullptr);
  HANDLE search = nullptr;
  HANDLE radio = nullptr;
  const auto found = std::chrono::steady_clock::now();
  ASSERT_EQ(0u, radioPort.findFirstRadio(&search, &radio));
  EXPECT_EQ(0u, radioPort.findRadioClose(search));
  // Finding the radio and describing it at once reads the daemon's objects once
  // (unless this machine stalled for a second in between); later, afresh.
  BLUETOOTH_RADIO_INFO radioInfo{};
  radioInfo.dwSize = sizeof radioInfo;
  ASSERT_EQ(0u, radioPort.getRadioInfo(radio, &radioInfo));
  const bool stalled = std::chrono::steady_clock::now() - found >= std::chrono::seconds(1);
  EXPECT_EQ(stalled ? 2u : 1u, radioPort.snapshotCount());
  ASSERT_EQ(0u, radioPort.getRadioInfo(radio, &radioInfo));
  EXPECT_EQ(stalled ? 3u : 2u, radioPort.snapshotCount());
  EXPECT_EQ(0x000102030405ULL, radioInfo.address.ullLong);
  EXPECT_EQ(0u, radioInfo.manufacturer) << "without a version source the values are 0";

  std::vector<BLUETOOTH_DEVICE_INFO> remembered;
  ASSERT_EQ(0u, radioPort.rememberedDevices(radio, &remembered));
  EXPECT_EQ(3u, remembered.size());

  BLUETOOTH_DEVICE_INFO device{};
  device.dwSize = sizeof device;
  device.Address.ullLong = 0x112233445509ULL;
  ASSERT_EQ(0u, radioPort.getDeviceInfo(radio, &device));
  EXPECT_EQ(TRUE, device.fConnected);
  EXPECT_EQ(FALSE, device.fRemembered);
  EXPECT_EQ(u'S', device.szName[0]);
  device.Address.ullLong = 0x665544332211ULL;
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), radioPort.getDeviceInfo(radio, &device));

  // NAP (0x1116) is offered by the paired devices. A state that is neither on
  // nor off, a device the radio does not know. (What the device offers, and
  // whether it is paired: the services test below.)
  const GUID nap{0x00001116, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5f, 0x9b, 0x34, 0xfb}};
  BLUETOOTH_DEVICE_INFO paired{};
  paired.dwSize = sizeof paired;
  paired.Address.ullLong = 0x112233445501ULL;
  EXPECT_EQ(0u, radioPort.setServiceState(radio, paired, nap, port::kBluetoothServiceEnable));
  EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), radioPort.setServiceState(radio, paired, nap, 7));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND),
            radioPort.setServiceState(radio, device, nap, port::kBluetoothServiceEnable));

  std::vector<port::RadioInterface> interfaces;
  ASSERT_EQ(0u, radioPort.listRadioInterfaces(&interfaces));
  ASSERT_EQ(1u, interfaces.size());
  EXPECT_EQ(L"/org/bluez/hci0", interfaces[0].path);
  std::vector<port::RadioDevice> devices;
  ASSERT_EQ(0u, radioPort.listRadioDevices(5, &devices));
  ASSERT_EQ(1u, devices.size());
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), devices[0].descriptionError) << "\"Test Radio\" needs 11";
  ASSERT_EQ(0u, radioPort.listRadioDevices(64, &devices));
  EXPECT_EQ(L"Test Radio", devices[0].description);

  EXPECT_EQ(0u, radioPort.close(radio));
  EXPECT_EQ(0u, radioPort.openHandleCount());
}

TEST_F(BluezRadioTest, NoDaemonsMeansNoRadioAndNoBus) {
  const std::string bus = std::getenv("UTILS_BUS_SOCKET");
  ::setenv("UTILS_BUS_SOCKET", (session_->folder.path() + "/nobody.sock").c_str(), 1);
  EXPECT_EQ(nullptr, OpenBusHandle());
  BYTE answer[8] = {0x77};
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, answer, 8))
      << "the lookup reports the driver as not installed";
  EXPECT_EQ(0x77, answer[0]);
  ::setenv("UTILS_BUS_SOCKET", bus.c_str(), 1);

  const std::string systemBus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + session_->folder.path() + "/nobus").c_str(), 1);
  linuxport::BluezRadio absent(nullptr);
  HANDLE search = nullptr;
  HANDLE radio = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), absent.findFirstRadio(&search, &radio));
  EXPECT_EQ(nullptr, radio);
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", systemBus.c_str(), 1);
}

// A process that ends without UTIL_BT_Uninitialize while the notification
// service runs (its event thread delivering, its polling thread asking the bus
// daemon) exits at once and cleanly: nothing that those threads use is torn
// down under them, and nothing waits for them. Under the sanitizers a use of a
// destroyed object ends the child with an error. The children inherit this
// process's environment: the mocked BlueZ, the bus daemon, the store files.
TEST_F(BluezRadioTest, AProcessEndsCleanlyAndAtOnceWithoutUninitialize) {
  ASSERT_TRUE(session_->connect("11:22:33:44:55:01"));
  for (const char* mode : {"return", "exit", "callback", "return", "exit"}) {
    const std::string output = session_->folder.path() + "/" + mode + ".txt";
    ChildProcess child({UTILS_EXIT_CHILD_PATH, mode}, {}, output);
    // The child waits for a signal level (a second or two), then must end at
    // once: a callback still running 30 s must not hold it.
    EXPECT_TRUE(waitUntil([&] { return !child.running(); }, 25000)) << mode << ": still running after 25 s\n"
                                                                    << readFileText(output);
    EXPECT_EQ(0, child.stop()) << mode << "\n" << readFileText(output);
  }
  ASSERT_TRUE(session_->connect("11:22:33:44:55:01", false));
}

// UTILS_EnableNewServices: a service class counts as enabled when the paired
// device offers it among its UUIDs; one it does not offer gives
// ERROR_SERVICE_DOES_NOT_EXIST. (Last: it traces, and changes what 55:01 offers.)
TEST_F(BluezRadioTest, EnablesWhatThePairedDeviceOffers) {
  session_->trace();
  const std::wstring supported = L"SOFTWARE\\Vorlane\\Pelmora\\Supported";
  const wchar_t* const obexPush = L"{00001105-0000-1000-8000-00805F9B34FB}";  // offered by dbusmock's paired devices
  const wchar_t* const dialUp = L"{00001103-0000-1000-8000-00805F9B34FB}";    // not offered until added
  const wchar_t* const sync = L"{00001104-0000-1000-8000-00805F9B34FB}";      // marked unsupported
  const auto installed = [](const wchar_t* device) {
    return std::wstring(L"Software\\Vorlane\\Pelmora\\Devices\\00:01:02:03:04:05\\") + device + L"\\InstalledServices";
  };
  const auto recorded = [&installed](const wchar_t* device, const wchar_t* service) {
    DWORD value = 0;
    return GetRegisterDWORD(installed(device).c_str(), service, &value, HKEY_CURRENT_USER) != FALSE;
  };
  const auto enableLine = [](const char* service, const char* result) {
    return std::string("[EnableNewServices] BluetoothSetServiceState({0000") + service +
           "-0000-1000-8000-00805F9B34FB}, BLUETOOTH_SERVICE_ENABLE) " + result;
  };
  size_t seen = readFileText(session_->debugLog()).size();
  const auto enable = [&](BtAddr device) {  // the trace it writes
    UTILS_EnableNewServices(&device);
    const std::string all = readFileText(session_->debugLog());
    return all.substr(std::exchange(seen, all.size()));
  };
  for (const auto* service : {obexPush, dialUp}) SetRegisterDWORD(supported.c_str(), service, 1, HKEY_LOCAL_MACHINE);
  SetRegisterDWORD(supported.c_str(), sync, 0, HKEY_LOCAL_MACHINE);
  const wchar_t* const phone = L"11:22:33:44:55:01";
  SetRegisterDWORD(installed(phone).c_str(), sync, 1, HKEY_CURRENT_USER);

  std::string trace = enable(0x112233445501ULL);
  EXPECT_NE(std::string::npos, trace.find("[4][utils]" + enableLine("1105", "succeeded\n"))) << trace;
  EXPECT_NE(std::string::npos, trace.find(enableLine("1103", "failed - 0x424\n"))) << trace;
  EXPECT_TRUE(recorded(phone, obexPush));
  EXPECT_FALSE(recorded(phone, dialUp));
  EXPECT_FALSE(recorded(phone, sync)) << "unsupported: its record removed";

  // Once the phone offers dial-up networking, the next call enables it; the
  // service enabled before is not asked for again.
  ASSERT_TRUE(session_->bluez.setProperty(kDevicePath, "org.bluez.Device1", "UUIDs",
                                          "<['00001105-0000-1000-8000-00805f9b34fb', "
                                          "'00001103-0000-1000-8000-00805f9b34fb']>"));
  trace = enable(0x112233445501ULL);
  EXPECT_NE(std::string::npos, trace.find(enableLine("1103", "succeeded"))) << trace;
  EXPECT_EQ(std::string::npos, trace.find("00001105")) << trace;
  EXPECT_TRUE(recorded(phone, dialUp));

  // Known to the adapter but not paired yet: refused for now (not
  // authenticated) and not recorded (asked again once paired: unit_policy).
  trace = enable(0x112233445509ULL);
  EXPECT_NE(std::string::npos, trace.find(enableLine("1105", "failed - 0x4dc"))) << trace;
  EXPECT_FALSE(recorded(L"11:22:33:44:55:09", obexPush));

  trace = enable(0x0A0B0C0D0E0FULL);
  EXPECT_NE(std::string::npos, trace.find("[EnableNewServices] BluetoothGetDeviceInfo failed - 0x")) << trace;
}

}  // namespace
}  // namespace utils::test
