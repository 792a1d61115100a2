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

// The functions' logic is tested on the simulation (unit_radio); here that the
// native adapters' answers reach it as "nothing there", and that nothing goes
// past the missing radio: the device switch is never reached (it crashes under
// Wine), no installed record is made, and no driver check waits 25 seconds.
TEST(Win32RadioExportsTest, NoBusDriverAndNoRadio) {
  if (!utils::testing::runningUnderWine()) GTEST_SKIP() << "expects a system without radio and bus driver, as Wine is";
  utils::win32port::installNativePlatform();
  EXPECT_EQ(OpenBusHandle(), nullptr);
  BLUETOOTH_RADIO_INFO info{};
  EXPECT_EQ(EnumerateFirstBthRadioHandle(&info), nullptr);

  const BYTE parameters[] = {0x01, 0x02};
  BYTE output[16] = {0x5A};
  EXPECT_EQ(SendVendorHCICmdEx(0xFC59, 2, parameters, TRUE, 0xAA, output, sizeof output), kNoRadio);
  EXPECT_EQ(output[0], 0x5A) << "the output was written although nothing was sent";
  NotifyDriverPairedDeviceNum();

  EXPECT_EQ(CheckBtStackIsStart(), 0u);
  SetDeviceRemoveFlag(2);
  EXPECT_EQ(BtDriverIsReady(), 0u) << "no radio interface: no probe at all";
  SetDeviceRemoveFlag(0);
  EXPECT_EQ(DeviceIsVorlane(), 0u);

  const DWORD before = deviceKeyCount();
  const BtAddr device = 0x001122334455ULL;
  UTILS_EnableNewServices(&device);
  EXPECT_EQ(deviceKeyCount(), before);
}

}  // namespace
