// UTILS_EnableNewServices on real Linux components: the registry store in a
// temporary folder and BlueZ mocked by python3-dbusmock on a private system bus.
// On Linux a service class counts as enabled when the paired device offers it
// among its UUIDs; one it does not offer gives ERROR_SERVICE_DOES_NOT_EXIST.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "radio_test_env.h"
#include "utils/policy.h"
#include "utils/registry.h"

namespace utils::test {
namespace {

const wchar_t* const kSupported = L"SOFTWARE\\Vorlane\\Pelmora\\Supported";
const wchar_t* const kObexPush = L"{00001105-0000-1000-8000-00805F9B34FB}";  // offered by dbusmock's paired devices
const wchar_t* const kDialUp = L"{00001103-0000-1000-8000-00805F9B34FB}";    // not offered until added
const wchar_t* const kSync = L"{00001104-0000-1000-8000-00805F9B34FB}";      // marked unsupported

// Whether the service is recorded as installed for the device (by its address text).
bool recorded(const std::wstring& device, const wchar_t* service) {
  const std::wstring path =
      L"Software\\Vorlane\\Pelmora\\Devices\\00:01:02:03:04:05\\" + device + L"\\InstalledServices";
  DWORD value = 0;
  return GetRegisterDWORD(path.c_str(), service, &value, HKEY_CURRENT_USER) != FALSE;
}

std::string enableLine(const char* service, const char* result) {
  return std::string("[EnableNewServices] BluetoothSetServiceState({0000") + service +
         "-0000-1000-8000-00805F9B34FB}, BLUETOOTH_SERVICE_ENABLE) " + result;
}

TEST(ServicesBluezTest, EnablesWhatThePairedDeviceOffersOnceItIsPaired) {
  BluezSession session("/nonexistent/vrlbusd.sock");
  ASSERT_TRUE(session.addDevice("11:22:33:44:55:01", "Phone", true));
  ASSERT_TRUE(session.addDevice("11:22:33:44:55:09", "Stranger"));
  size_t seen = 0;
  const auto enable = [&](BtAddr device) {  // the trace it writes
    UTILS_EnableNewServices(&device);
    const std::string all = readFileText(session.debugLog());
    return all.substr(std::exchange(seen, all.size()));
  };
  for (const auto* service : {kObexPush, kDialUp}) SetRegisterDWORD(kSupported, service, 1, HKEY_LOCAL_MACHINE);
  SetRegisterDWORD(kSupported, kSync, 0, HKEY_LOCAL_MACHINE);
  const std::wstring phone = L"11:22:33:44:55:01", stranger = L"11:22:33:44:55:09";
  SetRegisterDWORD(
      (L"Software\\Vorlane\\Pelmora\\Devices\\00:01:02:03:04:05\\" + phone + L"\\InstalledServices").c_str(), kSync, 1,
      HKEY_CURRENT_USER);

  std::string trace = enable(0x112233445501ULL);
  EXPECT_NE(std::string::npos, trace.find("[4][utils]" + enableLine("1105", "succeeded\n"))) << trace;
  EXPECT_NE(std::string::npos, trace.find(enableLine("1103", "failed - 0x424\n"))) << trace;
  EXPECT_TRUE(recorded(phone, kObexPush));
  EXPECT_FALSE(recorded(phone, kDialUp));
  EXPECT_FALSE(recorded(phone, kSync)) << "unsupported: its record removed";

  // Once the phone offers dial-up networking, the next call enables it; the
  // service enabled before is not asked for again.
  ASSERT_TRUE(session.bluez.setProperty("/org/bluez/hci0/dev_11_22_33_44_55_01", "org.bluez.Device1", "UUIDs",
                                        "<['00001105-0000-1000-8000-00805f9b34fb', "
                                        "'00001103-0000-1000-8000-00805f9b34fb']>"));
  trace = enable(0x112233445501ULL);
  EXPECT_NE(std::string::npos, trace.find(enableLine("1103", "succeeded"))) << trace;
  EXPECT_EQ(std::string::npos, trace.find("00001105")) << trace;
  EXPECT_TRUE(recorded(phone, kDialUp));

  // Known to the adapter but not paired yet: refused for now (not
  // authenticated), not recorded, so it is asked again once paired.
  trace = enable(0x112233445509ULL);
  EXPECT_NE(std::string::npos, trace.find(enableLine("1105", "failed - 0x4dc"))) << trace;
  EXPECT_FALSE(recorded(stranger, kObexPush));
  ASSERT_TRUE(session.bluez.mock("PairDevice", {"string:hci0", "string:11:22:33:44:55:09", "uint32:5898764"}));
  trace = enable(0x112233445509ULL);
  EXPECT_NE(std::string::npos, trace.find(enableLine("1105", "succeeded"))) << trace;
  EXPECT_TRUE(recorded(stranger, kObexPush));

  trace = enable(0x0A0B0C0D0E0FULL);
  EXPECT_NE(std::string::npos, trace.find("[EnableNewServices] BluetoothGetDeviceInfo failed - 0x")) << trace;
}

}  // namespace
}  // namespace utils::test
