// The Win32 radio adapter against what the system answers. Wine has no Bluetooth:
// its radio and device searches say "not implemented" and the radio interface
// class has no member, so these tests check that such answers reach the logic as
// the port promises. The listings, and the bus adapter's lookup, are also run on
// an interface class the prefix does have, so that paths, opens and device
// descriptions are read for real.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "port/win32/bus_device_interface.h"
#include "port/win32/radio_bluetooth.h"
#include "win32_radio_classes.h"
#include "wine_detect.h"

namespace {

using utils::port::BusInterface;
using utils::port::BusLookupStep;
using utils::port::RadioDevice;
using utils::port::RadioInterface;
using utils::win32port::Win32Bus;
using utils::win32port::Win32Radio;

// What BluetoothFindFirstRadio itself says here; skips the test when a radio is
// present (these tests are about its absence).
DWORD systemNoRadioError() {
  BLUETOOTH_FIND_RADIO_PARAMS params{};
  params.dwSize = sizeof params;
  HANDLE radio = nullptr;
  const HBLUETOOTH_RADIO_FIND search = BluetoothFindFirstRadio(&params, &radio);
  const DWORD error = GetLastError();
  if (search != nullptr) {
    CloseHandle(radio);
    BluetoothFindRadioClose(search);
    return 0;
  }
  return error;
}

// Without a radio: each call gives the system's answer as a failure, with null
// handles and empty listings. Wine's device switches are stubs that crash: they
// are called only on Windows.
TEST(Win32RadioTest, WithoutARadioEveryCallFailsAsTheSystemSays) {
  Win32Radio radio;
  EXPECT_EQ(radio.getDeviceInfo(nullptr, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(radio.getRadioInfo(nullptr, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  const DWORD expected = systemNoRadioError();
  if (expected == 0) GTEST_SKIP() << "a Bluetooth radio is present";
  const bool wine = utils::testing::runningUnderWine();

  HANDLE search = INVALID_HANDLE_VALUE;
  HANDLE radioHandle = INVALID_HANDLE_VALUE;
  const DWORD error = radio.findFirstRadio(&search, &radioHandle);
  EXPECT_EQ(error, expected);
  EXPECT_EQ(search, nullptr);
  EXPECT_EQ(radioHandle, nullptr);
  // Ending a search that was never made is an error, even where the system
  // fails without saying why (Wine: FALSE with last error 0).
  EXPECT_NE(radio.findRadioClose(nullptr), 0u);
  BLUETOOTH_RADIO_INFO info{};
  info.dwSize = sizeof info;
  EXPECT_NE(radio.getRadioInfo(nullptr, &info), 0u);

  // A failed search of remembered devices is a failure with an empty list;
  // under Wine "not implemented", not "no remembered device".
  std::vector<BLUETOOTH_DEVICE_INFO> remembered(3);
  const DWORD rememberedError = radio.rememberedDevices(nullptr, &remembered);
  EXPECT_TRUE(remembered.empty());
  EXPECT_TRUE(!wine || rememberedError == ERROR_CALL_NOT_IMPLEMENTED) << rememberedError;

  std::vector<RadioInterface> interfaces(2);
  ASSERT_EQ(radio.listRadioInterfaces(&interfaces), 0u);
  std::vector<RadioDevice> devices(2);
  ASSERT_EQ(radio.listRadioDevices(64, &devices), 0u);
  if (wine) {
    // Whether a radio interface is present elsewhere is the machine's business.
    EXPECT_TRUE(interfaces.empty());
    EXPECT_TRUE(devices.empty());
    return;
  }
  BLUETOOTH_DEVICE_INFO device{};
  device.dwSize = sizeof device;
  device.Address.ullLong = 0x001122334455ULL;
  EXPECT_NE(radio.getDeviceInfo(nullptr, &device), 0u);
  const GUID serialPort = {0x00001101, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
  EXPECT_NE(radio.setServiceState(nullptr, device, serialPort, utils::port::kBluetoothServiceEnable), 0u);
}

// Both adapters on an interface class the prefix has: the listing, the bus
// lookup of the first interface, and opens of a real device path.
TEST(Win32RadioTest, InterfacesOfAPresentClassAreListedFoundAndOpened) {
  Win32Radio radio(utils::testing::kHidInterfaceClass);
  std::vector<RadioInterface> interfaces;
  ASSERT_EQ(radio.listRadioInterfaces(&interfaces), 0u);
  if (interfaces.empty()) GTEST_SKIP() << "no HID device interface in this prefix";
  for (const auto& entry : interfaces) {
    ASSERT_EQ(entry.detailError, 0u);
    EXPECT_EQ(entry.path.rfind(LR"(\\?\)", 0), 0u) << "not a device path";
  }
  EXPECT_TRUE(interfaces.size() < 2 || interfaces[0].path != interfaces[1].path);

  Win32Bus bus(utils::testing::kHidInterfaceClass);
  BusInterface found;
  ASSERT_EQ(bus.findFirstInterface(&found), 0u);
  EXPECT_EQ(found.failedStep, BusLookupStep::kNone);
  EXPECT_EQ(found.path, interfaces.front().path) << "only the first interface, with its whole path";
  EXPECT_GE(found.detailBytes, sizeof(DWORD) + (found.path.size() + 1) * sizeof(wchar_t));
  // The bus adapter's handle is a real one, which a caller closes with CloseHandle.
  HANDLE handle = nullptr;
  ASSERT_EQ(bus.open(found.path.c_str(), &handle), 0u);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(CloseHandle(handle));

  // The radio adapter's opens are shared and overlapped: two at once.
  HANDLE first = INVALID_HANDLE_VALUE;
  HANDLE second = INVALID_HANDLE_VALUE;
  ASSERT_EQ(radio.openRadioInterface(found.path.c_str(), &first), 0u);
  ASSERT_EQ(radio.openRadioInterface(found.path.c_str(), &second), 0u);
  EXPECT_NE(first, second);
  EXPECT_EQ(radio.close(first), 0u);
  EXPECT_TRUE(CloseHandle(second));
  EXPECT_EQ(radio.close(first), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Win32RadioTest, FailedOpensOfBothAdaptersGiveTheErrorAndAnInvalidHandle) {
  Win32Radio radio;
  Win32Bus bus;
  const std::function<DWORD(const wchar_t*, HANDLE*)> opens[] = {
      [&radio](const wchar_t* path, HANDLE* handle) { return radio.openRadioInterface(path, handle); },
      [&bus](const wchar_t* path, HANDLE* handle) { return bus.open(path, handle); }};
  for (const auto& open : opens) {
    HANDLE handle = nullptr;
    const DWORD missing = open(LR"(\\?\utils-test#no-such-device#{fede31d4-7d26-4d22-b058-516dc4524889})", &handle);
    EXPECT_TRUE(missing == ERROR_FILE_NOT_FOUND || missing == ERROR_PATH_NOT_FOUND) << missing;
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    handle = nullptr;
    EXPECT_EQ(open(nullptr, &handle), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
  }
}

TEST(Win32RadioTest, DeviceDescriptionsAreReadWithinTheLimit) {
  Win32Radio radio(utils::testing::kHidInterfaceClass);
  std::vector<RadioDevice> devices;
  ASSERT_EQ(radio.listRadioDevices(64, &devices), 0u);
  if (devices.empty()) GTEST_SKIP() << "no HID device in this prefix";
  size_t shortest = 64;
  for (const auto& device : devices) {
    ASSERT_EQ(device.descriptionError, 0u);
    ASSERT_FALSE(device.description.empty());
    EXPECT_LT(device.description.size(), 64u);  // room for the terminator
    shortest = std::min(shortest, device.description.size());
  }

  // Exactly enough room for the shortest one and its terminator; then one unit
  // short, where none fits. A description that does not fit is not cut.
  for (const size_t limit : {shortest + 1, shortest}) {
    std::vector<RadioDevice> limited;
    ASSERT_EQ(radio.listRadioDevices(static_cast<DWORD>(limit), &limited), 0u);
    ASSERT_EQ(limited.size(), devices.size());
    size_t fitted = 0;
    for (size_t i = 0; i < limited.size(); ++i) {
      const bool fits = devices[i].description.size() < limit;
      fitted += fits ? 1 : 0;
      EXPECT_EQ(limited[i].descriptionError, fits ? 0u : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << limit;
      EXPECT_EQ(limited[i].description, fits ? devices[i].description : std::wstring()) << limit;
    }
    EXPECT_EQ(fitted > 0, limit > shortest) << limit;
  }
}

}  // namespace
