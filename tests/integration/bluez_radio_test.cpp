// The library's radio functions on real Linux components: BlueZ mocked by
// python3-dbusmock on a private system bus, and vrlbusd --emulate as the bus
// driver. The requests that reach the daemon are read back byte for byte.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "port/linux/bluez_radio.h"
#include "radio_test_env.h"
#include "utils/radio.h"
#include "vrlbusd_client.h"

namespace utils::test {
namespace {

class BluezRadioTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram(vrlbusdPath());
    daemon_ = new EmulatedBusDaemon({"--manufacturer", "0x1D", "--lmp-subversion", "0x2209"});
    session_ = new BluezSession(daemon_->socketPath(), true, false);
    for (const char* address : {"11:22:33:44:55:01", "11:22:33:44:55:02", "11:22:33:44:55:03"}) {
      ASSERT_TRUE(session_->addDevice(address, "Phone", true));
    }
    // Known and connected, but not paired: not remembered.
    ASSERT_TRUE(session_->addDevice("11:22:33:44:55:09", "Stranger"));
    ASSERT_TRUE(session_->connect("11:22:33:44:55:09"));
  }
  static void TearDownTestSuite() {
    delete session_;
    delete daemon_;
  }

  // The last request the daemon received.
  static RecentRequest lastRequest() {
    auto socket = connectBus(daemon_->socketPath());
    const auto requests = socket ? recentRequests(*socket) : std::vector<RecentRequest>{};
    return requests.empty() ? RecentRequest{} : requests.back();
  }

  static BluezSession* session_;
  static EmulatedBusDaemon* daemon_;
};

BluezSession* BluezRadioTest::session_ = nullptr;
EmulatedBusDaemon* BluezRadioTest::daemon_ = nullptr;

TEST_F(BluezRadioTest, FirstRadioCarriesTheAdaptersAddressAndTheControllersVersion) {
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
}

TEST_F(BluezRadioTest, VendorCommandAndPairedCountReachTheDaemonAsLaidOut) {
  const BYTE parameters[] = {0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03};
  BYTE answer[16] = {};
  ASSERT_EQ(0u, SendVendorHCICmdEx(0xFC59, 7, parameters, TRUE, 0xAA, answer, sizeof answer));
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x59, 0xFC, 0}), Bytes(answer, answer + 6));
  const auto request = lastRequest();
  EXPECT_EQ(kVendorCode, request.code);
  EXPECT_EQ((Bytes{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 10, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x03, 7, 1, 0xAA}),
            request.input);

  // An opcode the controller does not know: Command Complete status 1.
  ASSERT_EQ(0u, SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, answer, sizeof answer));
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x01, 0xFC, 1}), Bytes(answer, answer + 6));
  EXPECT_EQ(vendorCommand(0xFC01), lastRequest().input);

  // The paired count (three paired devices): a request answered without output.
  NotifyDriverPairedDeviceNum();
  EXPECT_EQ(pairedCount(3), lastRequest().input);
}

TEST_F(BluezRadioTest, ChecksOnAMachineWithoutKernelBluetooth) {
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

  BLUETOOTH_RADIO_INFO info{};
  info.dwSize = sizeof info;
  ASSERT_EQ(0u, radioPort.getRadioInfo(radio, &info));
  EXPECT_EQ(0u, info.manufacturer) << "without a version source the values are 0";

  // NAP (0x1116) is offered by the paired devices, DUN (0x1103) is not.
  const GUID nap{0x00001116, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5f, 0x9b, 0x34, 0xfb}};
  const GUID dun{0x00001103, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5f, 0x9b, 0x34, 0xfb}};
  BLUETOOTH_DEVICE_INFO paired{};
  paired.dwSize = sizeof paired;
  paired.Address.ullLong = 0x112233445501ULL;
  EXPECT_EQ(0u, radioPort.setServiceState(radio, paired, nap, port::kBluetoothServiceEnable));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST),
            radioPort.setServiceState(radio, paired, dun, port::kBluetoothServiceEnable));
  EXPECT_EQ(static_cast<DWORD>(E_INVALIDARG), radioPort.setServiceState(radio, paired, nap, 7));
  // A device the radio does not know, and one it knows but has not paired: both
  // answers may change later, so neither is E_INVALIDARG.
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND),
            radioPort.setServiceState(radio, device, nap, port::kBluetoothServiceEnable));
  device.Address.ullLong = 0x112233445509ULL;
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_AUTHENTICATED),
            radioPort.setServiceState(radio, device, nap, port::kBluetoothServiceEnable));
  ASSERT_TRUE(session_->bluez.setProperty("/org/bluez/hci0/dev_11_22_33_44_55_01", "org.bluez.Device1", "UUIDs",
                                          "<['00001103-0000-1000-8000-00805F9B34FB']>"));
  EXPECT_EQ(0u, radioPort.setServiceState(radio, paired, dun, port::kBluetoothServiceEnable));

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

}  // namespace
}  // namespace utils::test
