// The radio and driver functions of the library over the native Win32 adapters,
// on a system with neither the bus driver nor a Bluetooth radio (Wine): each one
// gives its "nothing there" answer without touching the calls that only a radio
// would reach.
#include <gtest/gtest.h>
#include <windows.h>

#include "port/win32/win32_platform.h"
#include "utils/policy.h"
#include "utils/radio.h"
#include "wine_detect.h"

namespace {

constexpr DWORD kNoRadio = 0xFFFFFFFF;

// The radios with per-device records in the current user's registry.
DWORD deviceKeyCount() {
  HKEY devices = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Vorlane\\Pelmora\\Devices", 0, KEY_READ, &devices) != 0) return 0;
  DWORD count = 0;
  RegQueryInfoKeyW(devices, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  RegCloseKey(devices);
  return count;
}

class Win32RadioExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!utils::testing::runningUnderWine()) {
      GTEST_SKIP() << "expects a system without radio and bus driver, as Wine is";
    }
    utils::win32port::installNativePlatform();
  }
};

TEST_F(Win32RadioExportsTest, NoBusDriverAndNoRadio) {
  EXPECT_EQ(OpenBusHandle(), nullptr);
  BLUETOOTH_RADIO_INFO info{};
  EXPECT_EQ(EnumerateFirstBthRadioHandle(&info), nullptr);
  EXPECT_EQ(EnumerateFirstBthRadioHandle(nullptr), nullptr);

  const BYTE parameters[] = {0x01, 0x02};
  BYTE output[16] = {0x5A};
  EXPECT_EQ(SendVendorHCICmdEx(0xFC59, 2, parameters, TRUE, 0xAA, output, sizeof output), kNoRadio);
  EXPECT_EQ(output[0], 0x5A) << "the output was written although nothing was sent";
  EXPECT_EQ(SendVendorHCICmd(0xFC59, 0, nullptr, FALSE, 0), kNoRadio);
  const BYTE address[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  EXPECT_EQ(SendRssiCmdWithAddr(address), kNoRadio);
  // No bus driver to tell; returns without a radio or a driver.
  NotifyDriverPairedDeviceNum();
}

TEST_F(Win32RadioExportsTest, StackAndDriverChecksSayNo) {
  EXPECT_EQ(CheckBtStackIsStart(), 0u);
  // No radio interface: no probe at all, so no 25-second wait.
  SetDeviceRemoveFlag(2);
  EXPECT_EQ(BtDriverIsReady(), 0u);
  SetDeviceRemoveFlag(0);
  EXPECT_EQ(DeviceIsVorlane(), 0u);
}

TEST_F(Win32RadioExportsTest, EnablingServicesStopsAtTheMissingRadio) {
  // The device switch is never reached (it crashes under Wine), and no installed
  // record is made for a radio that is not there.
  const DWORD before = deviceKeyCount();
  const BtAddr device = 0x001122334455ULL;
  UTILS_EnableNewServices(&device);
  EXPECT_EQ(deviceKeyCount(), before);
}

}  // namespace
