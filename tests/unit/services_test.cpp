#include <cstring>

#include "common/utf16.h"
#include "policy/policy_keys.h"
#include "policy_fixture.h"
#include "utils/policy.h"

namespace utils::test {
namespace {

const std::wstring kSupported = L"SOFTWARE\\Vorlane\\Pelmora\\Supported";
constexpr BtAddr kRadio = 0x001122334455ULL;
constexpr BtAddr kPhone = 0x66778899AABBULL;
const std::wstring kInstalled =
    L"Software\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55\\66:77:88:99:aa:bb\\InstalledServices";

// Service classes: offered by the phone, not offered, refused as invalid, refused otherwise.
constexpr GUID kOffered = {0x00001105, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kMissing = {0x00001112, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
constexpr GUID kInvalid = {0xA1B2C3D4, 0xE5F6, 0x0718, {0x29, 0x3A, 0x4B, 0x5C, 0x6D, 0x7E, 0x8F, 0x90}};
constexpr GUID kBusy = {0x0000111F, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
const wchar_t* const kOfferedText = L"{00001105-0000-1000-8000-00805F9B34FB}";
const wchar_t* const kMissingText = L"{00001112-0000-1000-8000-00805F9B34FB}";
const wchar_t* const kInvalidText = L"{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}";
const wchar_t* const kBusyText = L"{0000111F-0000-1000-8000-00805F9B34FB}";
const wchar_t* const kDroppedText = L"{0000110A-0000-1000-8000-00805F9B34FB}";

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The trace line of one service switch: "{GUID}" and "succeeded" or "failed - 0x...".
std::string switched(const wchar_t* guid, const char* result) {
  return "[EnableNewServices] BluetoothSetServiceState(" + wideToUtf8(guid) + ", BLUETOOTH_SERVICE_ENABLE) " + result +
         "\n";
}

class ServicesTest : public PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    load(4, 0);
    sim_.radio.setRadio(kRadio);
    sim_.radio.addDevice(kPhone, {kOffered, kBusy});
  }
  void support(const wchar_t* name, DWORD value, DWORD type = REG_DWORD) {
    put(HKEY_LOCAL_MACHINE, kSupported, name, type, le(value, 4));
  }
  void enable(BtAddr device = kPhone) {
    sim_.debugOutput.clear();
    UTILS_EnableNewServices(&device);
  }
  int callsFor(const GUID& service) const {
    int count = 0;
    for (const auto& call : sim_.radio.serviceCalls()) count += sameGuid(call.service, service) ? 1 : 0;
    return count;
  }
  void expectNoLeaks() {
    EXPECT_EQ(0u, sim_.registry.openHandles());
    EXPECT_EQ(0u, sim_.radio.openHandles());
  }
};

TEST_F(ServicesTest, GuidTextsRoundTrip) {
  EXPECT_EQ(std::wstring(kInvalidText), policy::guidText(kInvalid));
  GUID parsed{};
  ASSERT_TRUE(policy::parseGuidText(L"{a1b2c3d4-e5f6-0718-293a-4b5c6d7e8f90}", &parsed));
  EXPECT_TRUE(sameGuid(kInvalid, parsed));
  for (const wchar_t* bad : {L"{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F9G}", L"A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90",
                             L"{A1B2C3D4-E5F6-0718-293A-4B5C6D7E8F90}x", L"{A1B2C3D4+E5F6-0718-293A-4B5C6D7E8F90}"}) {
    EXPECT_FALSE(policy::parseGuidText(bad, &parsed)) << bad;
  }
}

TEST_F(ServicesTest, FailuresBeforeTheWalkAreTracedAndEndTheCall) {
  UTILS_EnableNewServices(nullptr);
  EXPECT_EQ(std::vector<std::string>{"[EnableNewServices] Invalid arguments!\n"}, messages());

  sim_.radio.setRadio(kRadio, false);
  enable();
  EXPECT_EQ(std::vector<std::string>{"[EnableNewServices] BluetoothFindFirstRadio failed - 0x103\n"}, messages());
  sim_.radio.setRadio(kRadio, true);

  sim_.radio.failNext(sim::SimRadio::Op::GetRadioInfo, ERROR_GEN_FAILURE);
  enable();
  EXPECT_EQ(std::vector<std::string>{"[EnableNewServices] BluetoothGetRadioInfo failed - 0x1f\n"}, messages());

  enable(0x123456);  // not paired with this radio
  EXPECT_EQ(std::vector<std::string>{"[EnableNewServices] BluetoothGetDeviceInfo failed - 0x490\n"}, messages());

  enable();  // no support list
  EXPECT_EQ(std::vector<std::string>{"[EnableNewServices] Failed to open support reg key\n"}, messages());
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kInstalled));

  makeKey(HKEY_LOCAL_MACHINE, kSupported);
  sim_.registry.failNext(sim::SimRegistry::Op::Create, ERROR_ACCESS_DENIED);
  enable();
  EXPECT_EQ(std::vector<std::string>{"[EnableNewServices Failed to open installed service reg key\n"}, messages());

  // An empty support list still creates the installed record, with lower-case digits.
  enable();
  EXPECT_TRUE(messages().empty());
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kInstalled));
  HKEY radioKey = nullptr;
  ASSERT_EQ(0u, sim_.registry.openKey(HKEY_CURRENT_USER, L"Software\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55",
                                      KEY_READ, &radioKey));
  wchar_t name[64];
  DWORD chars = 64;
  ASSERT_EQ(0u, sim_.registry.enumKey(radioKey, 0, name, &chars));
  EXPECT_EQ(std::wstring(L"66:77:88:99:aa:bb"), std::wstring(name));
  sim_.registry.closeKey(radioKey);
  EXPECT_TRUE(sim_.radio.serviceCalls().empty());
  expectNoLeaks();
}

TEST_F(ServicesTest, EnablesRecordsAndRetriesByTheSwitchsAnswer) {
  sim_.radio.scriptService(kInvalid, static_cast<DWORD>(E_INVALIDARG));
  sim_.radio.scriptService(kBusy, ERROR_BUSY);
  support(kOfferedText, 1);
  support(kMissingText, 5);
  support(kInvalidText, 1);
  support(kBusyText, 1);
  support(kDroppedText, 0);
  put(HKEY_CURRENT_USER, kInstalled, kDroppedText, REG_DWORD, le(1, 4));
  // Passed over without a trace: wrong name length, wrong type; a 38-character
  // name that is no GUID is passed over after the existence test.
  support(L"{00001105-0000-1000-8000-00805F9B34F}", 1);
  support(L"{00001101-0000-1000-8000-00805F9B34FB}", 1, REG_BINARY);
  support(L"{ZZZZZZZZ-0000-1000-8000-00805F9B34FB}", 1);

  enable();
  EXPECT_EQ(
      (std::vector<std::string>{switched(kOfferedText, "succeeded"), switched(kMissingText, "failed - 0x424"),
                                switched(kBusyText, "failed - 0xaa"), switched(kInvalidText, "failed - 0x80070057")}),
      messages());
  // Recorded: enabled, and refused as invalid; not: the others, and the
  // unsupported one's record is removed.
  for (const auto& [name, kept] : std::vector<std::pair<const wchar_t*, bool>>{{kOfferedText, true},
                                                                               {kInvalidText, true},
                                                                               {kMissingText, false},
                                                                               {kBusyText, false},
                                                                               {kDroppedText, false}}) {
    EXPECT_EQ(kept, read(HKEY_CURRENT_USER, kInstalled, name));
  }
  std::vector<BYTE> data;
  ASSERT_TRUE(read(HKEY_CURRENT_USER, kInstalled, kOfferedText, &data));
  EXPECT_EQ(le(1, 4), data);
  for (const auto& call : sim_.radio.serviceCalls()) {
    EXPECT_EQ(kPhone, call.device);
    EXPECT_EQ(port::kBluetoothServiceEnable, call.state);
  }
  EXPECT_EQ(4u, sim_.radio.serviceCalls().size());

  // Next time only the services without a record are asked for again.
  enable();
  EXPECT_EQ(1, callsFor(kOffered));
  EXPECT_EQ(1, callsFor(kInvalid));
  EXPECT_EQ(2, callsFor(kMissing));
  EXPECT_EQ(2, callsFor(kBusy));
  expectNoLeaks();
}

TEST_F(ServicesTest, ADeviceNotPairedYetIsAskedAgainOncePaired) {
  support(kOfferedText, 1);
  sim_.radio.setDeviceFlags(kPhone, false, false);  // known to the radio, not paired
  enable();
  EXPECT_EQ(std::vector<std::string>{switched(kOfferedText, "failed - 0x4dc")}, messages());
  EXPECT_FALSE(read(HKEY_CURRENT_USER, kInstalled, kOfferedText));  // not recorded: asked again

  sim_.radio.setDeviceFlags(kPhone, false, true);  // now paired
  enable();
  EXPECT_EQ(std::vector<std::string>{switched(kOfferedText, "succeeded")}, messages());
  EXPECT_TRUE(read(HKEY_CURRENT_USER, kInstalled, kOfferedText));
  EXPECT_EQ(2, callsFor(kOffered));
  expectNoLeaks();
}

TEST_F(ServicesTest, RecordFailuresAreTracedAndTheWalkGoesOn) {
  support(kDroppedText, 0);
  support(kOfferedText, 1);
  put(HKEY_CURRENT_USER, kInstalled, kDroppedText, REG_DWORD, le(1, 4));
  sim_.registry.failNext(sim::SimRegistry::Op::Delete, ERROR_ACCESS_DENIED);
  sim_.registry.failNext(sim::SimRegistry::Op::Set, ERROR_ACCESS_DENIED);
  enable();  // support list order: {...1105...} before {...110A...}
  EXPECT_EQ(
      (std::vector<std::string>{
          switched(kOfferedText, "succeeded"),
          "[EnableNewServices] Failed to set installed service " + wideToUtf8(kOfferedText) + " - 0x5\n",
          "[EnableNewServices] Failed to delete installed service {0000110A-0000-1000-8000-00805F9B34FB} - 0x5\n"}),
      messages());
  EXPECT_TRUE(read(HKEY_CURRENT_USER, kInstalled, kDroppedText));

  // The existence test failing: traced, nothing enabled.
  sim_.registry.failNext(sim::SimRegistry::Op::Query, ERROR_ACCESS_DENIED);
  const size_t calls = sim_.radio.serviceCalls().size();
  enable();
  EXPECT_EQ(std::vector<std::string>{"[EnableNewServices] Failed to query installed service " +
                                     wideToUtf8(kOfferedText) + " - 0x5\n"},
            messages());
  EXPECT_EQ(calls, sim_.radio.serviceCalls().size());
  expectNoLeaks();
}

// ---- Service registration queries ----

TEST_F(ServicesTest, LocalServiceSupported) {
  EXPECT_FALSE(UTILS_BluetoothIsLocalServiceSupported(nullptr));
  EXPECT_FALSE(UTILS_BluetoothIsLocalServiceSupported(&kOffered));  // no list
  support(kOfferedText, 0);
  EXPECT_FALSE(UTILS_BluetoothIsLocalServiceSupported(&kOffered));
  support(kOfferedText, 7);
  EXPECT_TRUE(UTILS_BluetoothIsLocalServiceSupported(&kOffered));
  // Value names compare without regard to case.
  support(L"{a1b2c3d4-e5f6-0718-293a-4b5c6d7e8f90}", 1);
  EXPECT_TRUE(UTILS_BluetoothIsLocalServiceSupported(&kInvalid));
  support(kBusyText, 0x100, REG_BINARY);
  EXPECT_TRUE(UTILS_BluetoothIsLocalServiceSupported(&kBusy));
  put(HKEY_LOCAL_MACHINE, kSupported, kMissingText, REG_SZ, {'1', 0, 0, 0});
  EXPECT_FALSE(UTILS_BluetoothIsLocalServiceSupported(&kMissing));
  EXPECT_EQ(0u, sim_.registry.openHandles());
}

TEST_F(ServicesTest, FtpClientRegistered) {
  const std::wstring folders = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\CLSID\\";
  const std::wstring classes = L"SOFTWARE\\Classes\\CLSID\\";
  UTILS_FtpClientRegistered(nullptr);
  EXPECT_EQ(std::vector<std::string>{"[FtpClientRegistered] Invalid argument!\n\n"}, messages());
  EXPECT_FALSE(UTILS_FtpClientRegistered(&kPhone));

  // Enumeration order is by name: {1...} before {2...} before {3...}.
  put(HKEY_CURRENT_USER, folders + L"{1}", L"BDAddr", REG_BINARY, std::vector<BYTE>(9, 0xBB));  // too long
  put(HKEY_CURRENT_USER, folders + L"{2}", L"Other", REG_DWORD, le(1, 4));
  put(HKEY_CURRENT_USER, folders + L"{3}", L"BDAddr", REG_QWORD, le(kPhone, 8));
  EXPECT_FALSE(UTILS_FtpClientRegistered(&kPhone));  // class not registered
  makeKey(HKEY_LOCAL_MACHINE, classes + L"{3}");
  EXPECT_FALSE(UTILS_FtpClientRegistered(&kPhone));  // registered machine-wide only
  makeKey(HKEY_CURRENT_USER, classes + L"{3}");
  EXPECT_TRUE(UTILS_FtpClientRegistered(&kPhone));
  const BtAddr other = kPhone + 1;
  EXPECT_FALSE(UTILS_FtpClientRegistered(&other));

  // Only the first folder with the address decides.
  put(HKEY_CURRENT_USER, folders + L"{0}", L"BDAddr", REG_BINARY, le(kPhone, 6));  // shorter: zero-extended
  EXPECT_FALSE(UTILS_FtpClientRegistered(&kPhone));
  makeKey(HKEY_CURRENT_USER, classes + L"{0}");
  EXPECT_TRUE(UTILS_FtpClientRegistered(&kPhone));
  EXPECT_EQ(0u, sim_.registry.openHandles());
}

}  // namespace
}  // namespace utils::test
