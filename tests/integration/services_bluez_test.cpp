// UTILS_EnableNewServices on real Linux components: the registry store in a
// temporary folder and BlueZ mocked by python3-dbusmock on a private system bus.
// On Linux a service class counts as enabled when the paired device offers it
// among its UUIDs; one it does not offer gives ERROR_SERVICE_DOES_NOT_EXIST.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "port/platform.h"
#include "radio_test_env.h"
#include "utils/policy.h"

namespace utils::test {
namespace {

const wchar_t* const kSupported = L"SOFTWARE\\Vorlane\\Pelmora\\Supported";
const wchar_t* const kInstalled =
    L"Software\\Vorlane\\Pelmora\\Devices\\00:01:02:03:04:05\\11:22:33:44:55:01\\InstalledServices";
const wchar_t* const kObexPush = L"{00001105-0000-1000-8000-00805F9B34FB}";  // offered by dbusmock's paired devices
const wchar_t* const kDialUp = L"{00001103-0000-1000-8000-00805F9B34FB}";    // not offered until added
const wchar_t* const kSync = L"{00001104-0000-1000-8000-00805F9B34FB}";      // marked unsupported
constexpr BtAddr kPhone = 0x112233445501ULL;
constexpr BtAddr kStranger = 0x112233445509ULL;

class ServicesBluezTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = new BluezSession("");
    ::setenv("UTILS_BUS_SOCKET", (session_->folder.path() + "/no-daemon.sock").c_str(), 1);
    ASSERT_TRUE(session_->addDevice("11:22:33:44:55:01", "Phone", true));
    ASSERT_TRUE(session_->addDevice("11:22:33:44:55:09", "Stranger"));
  }
  static void TearDownTestSuite() { delete session_; }

  static std::string log() { return session_->debugLog(); }
  static void setDword(HKEY root, const wchar_t* path, const wchar_t* name, DWORD value) {
    port::RegistryPort& registry = *port::platform().registry;
    HKEY key = nullptr;
    ASSERT_EQ(0u, registry.createKey(root, path, KEY_ALL_ACCESS, &key, nullptr));
    const BYTE data[4] = {BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
    ASSERT_EQ(0u, registry.setValue(key, name, REG_DWORD, data, 4));
    registry.closeKey(key);
  }
  static bool recorded(const wchar_t* name, const wchar_t* installed = kInstalled) {
    port::RegistryPort& registry = *port::platform().registry;
    HKEY key = nullptr;
    if (registry.openKey(HKEY_CURRENT_USER, installed, KEY_READ, &key) != 0) return false;
    const DWORD error = registry.queryValue(key, name, nullptr, nullptr, nullptr);
    registry.closeKey(key);
    return error == 0;
  }
  // The trace written since the last call.
  static std::string newTrace() {
    const std::string all = readFileText(log());
    const std::string fresh = all.substr(std::min(seen_, all.size()));
    seen_ = all.size();
    return fresh;
  }

  static BluezSession* session_;
  static size_t seen_;
};

BluezSession* ServicesBluezTest::session_ = nullptr;
size_t ServicesBluezTest::seen_ = 0;

TEST_F(ServicesBluezTest, EnablesWhatThePairedDeviceOffers) {
  setDword(HKEY_LOCAL_MACHINE, kSupported, kObexPush, 1);
  setDword(HKEY_LOCAL_MACHINE, kSupported, kDialUp, 1);
  setDword(HKEY_LOCAL_MACHINE, kSupported, kSync, 0);
  setDword(HKEY_CURRENT_USER, kInstalled, kSync, 1);
  newTrace();

  UTILS_EnableNewServices(&kPhone);
  std::string trace = newTrace();
  EXPECT_NE(std::string::npos, trace.find("[4][utils][EnableNewServices] BluetoothSetServiceState("
                                          "{00001105-0000-1000-8000-00805F9B34FB}, BLUETOOTH_SERVICE_ENABLE) "
                                          "succeeded\n"))
      << trace;
  EXPECT_NE(std::string::npos, trace.find("[EnableNewServices] BluetoothSetServiceState("
                                          "{00001103-0000-1000-8000-00805F9B34FB}, BLUETOOTH_SERVICE_ENABLE) "
                                          "failed - 0x424\n"))
      << trace;
  EXPECT_TRUE(recorded(kObexPush));
  EXPECT_FALSE(recorded(kDialUp));
  EXPECT_FALSE(recorded(kSync));

  // Once the phone offers dial-up networking, the next call enables it; the
  // service enabled before is not asked for again.
  ASSERT_TRUE(session_->bluez.setProperty("/org/bluez/hci0/dev_11_22_33_44_55_01", "org.bluez.Device1", "UUIDs",
                                          "<['00001105-0000-1000-8000-00805f9b34fb', "
                                          "'00001103-0000-1000-8000-00805f9b34fb']>"));
  UTILS_EnableNewServices(&kPhone);
  trace = newTrace();
  EXPECT_NE(std::string::npos, trace.find("{00001103-0000-1000-8000-00805F9B34FB}, BLUETOOTH_SERVICE_ENABLE) "
                                          "succeeded"))
      << trace;
  EXPECT_EQ(std::string::npos, trace.find("00001105")) << trace;
  EXPECT_TRUE(recorded(kDialUp));
}

TEST_F(ServicesBluezTest, DevicesThatAreNotPairedOrNotKnown) {
  setDword(HKEY_LOCAL_MACHINE, kSupported, kObexPush, 1);
  newTrace();
  // Known to the adapter but not paired yet: refused for now (not
  // authenticated), not recorded, so it is asked again once paired.
  UTILS_EnableNewServices(&kStranger);
  std::string trace = newTrace();
  EXPECT_NE(std::string::npos, trace.find("BLUETOOTH_SERVICE_ENABLE) failed - 0x4dc")) << trace;
  const wchar_t* const strangerInstalled =
      L"Software\\Vorlane\\Pelmora\\Devices\\00:01:02:03:04:05\\11:22:33:44:55:09\\InstalledServices";
  EXPECT_FALSE(recorded(kObexPush, strangerInstalled));

  ASSERT_TRUE(session_->bluez.mock("PairDevice", {"string:hci0", "string:11:22:33:44:55:09", "uint32:5898764"}));
  UTILS_EnableNewServices(&kStranger);
  trace = newTrace();
  EXPECT_NE(std::string::npos, trace.find("{00001105-0000-1000-8000-00805F9B34FB}, BLUETOOTH_SERVICE_ENABLE) "
                                          "succeeded"))
      << trace;
  EXPECT_TRUE(recorded(kObexPush, strangerInstalled));

  const BtAddr nowhere = 0x0A0B0C0D0E0FULL;
  UTILS_EnableNewServices(&nowhere);
  trace = newTrace();
  EXPECT_NE(std::string::npos, trace.find("[EnableNewServices] BluetoothGetDeviceInfo failed - 0x")) << trace;
}

}  // namespace
}  // namespace utils::test
