#include <tuple>

#include "faulty_ports.h"
#include "policy_fixture.h"
#include "thread_race.h"
#include "utils/policy.h"

namespace utils::test {
namespace {

const BYTE kLocal[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const BYTE kRemote[6] = {0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB};
const std::wstring kSuite = L"SOFTWARE\\Vorlane\\Pelmora";
const std::wstring kDeviceKey = kSuite + L"\\Devices\\00:11:22:33:44:55\\66:77:88:99:AA:BB";
constexpr uint64_t kHour = 36000000000ULL;  // in 100-ns units

class PermissionTest : public PolicyTest {
 protected:
  void setDevice(const wchar_t* name, DWORD type, std::vector<BYTE> data) {
    put(HKEY_CURRENT_USER, kDeviceKey, name, type, std::move(data));
  }
  BOOL permitted(WORD code) { return IsRequestPermitted(kLocal, kRemote, code); }
};

TEST_F(PermissionTest, MachineWideSwitchAndTheDeviceKey) {
  EXPECT_FALSE(IsRequestPermitted(nullptr, kRemote, 1));  // refused, not read through
  EXPECT_FALSE(permitted(0x1105));                        // no key
  for (const auto& [type, data, granted] : std::vector<std::tuple<DWORD, std::vector<BYTE>, BOOL>>{
           {REG_DWORD, le(2, 4), FALSE}, {REG_QWORD, le(1, 8), FALSE}, {REG_BINARY, le(1, 4), TRUE}}) {
    put(HKEY_LOCAL_MACHINE, kSuite, L"SkipPermit", type, data);
    EXPECT_EQ(granted, permitted(0x1105)) << "SkipPermit of type " << type;  // only exactly 1 grants
  }
  put(HKEY_LOCAL_MACHINE, L"software\\vorlane\\pelmora", L"skippermit", REG_DWORD, le(1, 4));
  EXPECT_TRUE(IsRequestPermitted(nullptr, nullptr, 7)) << "granted without looking at the addresses";
  put(HKEY_LOCAL_MACHINE, kSuite, L"SkipPermit", REG_DWORD, le(0, 4));

  // The addresses print with upper-case digits: a key spelled in lower case is the same key.
  EXPECT_FALSE(IsRequestPermitted(kRemote, kLocal, 0x1105));
  put(HKEY_CURRENT_USER, L"software\\vorlane\\pelmora\\devices\\66:77:88:99:aa:bb\\00:11:22:33:44:55", L"AllowAll",
      REG_QWORD, le(1, 8));
  EXPECT_TRUE(IsRequestPermitted(kRemote, kLocal, 0x1105));
  EXPECT_EQ(0u, sim_.registry.openHandles());
}

TEST_F(PermissionTest, DecisionsOnTheDeviceKeysValues) {
  // Each row stores one value under the device key (none without a name), asks
  // for its code and, where it says, checks whether the value is still there.
  enum Kept { kUnchecked, kGone, kStays };
  struct Row {
    const char* what;
    const wchar_t* name;
    DWORD type;
    std::vector<BYTE> data;
    WORD code;
    BOOL granted;
    Kept kept;
  };
  const uint64_t now = sim_.clock.systemTimeAsFileTime();
  const Row rows[] = {
      {"an empty key denies", nullptr, 0, {}, 0x1105, FALSE, kUnchecked},
      {"AllowAll 0", L"AllowAll", REG_QWORD, le(0, 8), 0x1105, FALSE, kUnchecked},
      {"AllowAll with only the high half set", L"AllowAll", REG_QWORD, le(0xFFFFFFFF00000000ULL, 8), 0x1105, TRUE,
       kUnchecked},
      {"AllowAll shorter reads zero-extended", L"AllowAll", REG_BINARY, {1}, 0x1105, TRUE, kUnchecked},
      {"AllowAll too long is unreadable", L"AllowAll", REG_BINARY, std::vector<BYTE>(9, 1), 0x1105, FALSE, kUnchecked},
      {"a standing permission", L"1105", REG_DWORD, le(2, 4), 0x1105, TRUE, kStays},
      {"a standing permission grants again", nullptr, 0, {}, 0x1105, TRUE, kUnchecked},
      {"names are lower-case hex", L"abcd", REG_DWORD, le(2, 4), 0xABCD, TRUE, kUnchecked},
      {"code 0", L"0", REG_DWORD, le(2, 4), 0, TRUE, kUnchecked},
      {"0x105 is not 1105", nullptr, 0, {}, 0x105, FALSE, kUnchecked},
      {"0xABC is not abcd", nullptr, 0, {}, 0xABC, FALSE, kUnchecked},
      {"an expired time value denies and stays", L"1106_time", REG_QWORD, le(now - kHour, 8), 0x1106, FALSE, kStays},
      {"a one-time permission grants", L"1106", REG_DWORD, le(1, 4), 0x1106, TRUE, kGone},
      {"once", nullptr, 0, {}, 0x1106, FALSE, kUnchecked},
      {"a time value in an hour", L"1106_time", REG_QWORD, le(now + kHour, 8), 0x1106, TRUE, kUnchecked},
      {"a time value of exactly now", L"1106_time", REG_QWORD, le(now, 8), 0x1106, TRUE, kUnchecked},
      {"a time value just past", L"1106_time", REG_QWORD, le(now - 1, 8), 0x1106, FALSE, kUnchecked},
      {"a time value too long is unreadable", L"1106_time", REG_BINARY, std::vector<BYTE>(9, 0xFF), 0x1106, FALSE,
       kUnchecked},
      {"a request value 0 denies", L"1106", REG_DWORD, le(0, 4), 0x1106, FALSE, kUnchecked},
      {"and leaves it to the time value", L"1106_time", REG_QWORD, le(now + kHour, 8), 0x1106, TRUE, kUnchecked},
      {"a one-time permission stored shorter", L"1107", REG_BINARY, {1}, 0x1107, TRUE, kGone},
      {"a request value of 8 bytes is unreadable", L"1108", REG_QWORD, le(2, 8), 0x1108, FALSE, kStays},
  };
  makeKey(HKEY_CURRENT_USER, kDeviceKey);
  for (const Row& row : rows) {
    if (row.name != nullptr) setDevice(row.name, row.type, row.data);
    EXPECT_EQ(row.granted, permitted(row.code)) << row.what;
    if (row.kept != kUnchecked) {
      EXPECT_EQ(row.kept == kStays, read(HKEY_CURRENT_USER, kDeviceKey, row.name)) << row.what;
    }
  }
  EXPECT_EQ(0u, sim_.registry.openHandles());
}

TEST_F(PermissionTest, OneTimePermissionThatCannotBeUsedUpDoesNotGrant) {
  setDevice(L"1105", REG_DWORD, le(1, 4));
  sim_.registry.failNext(sim::SimRegistry::Op::Delete, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(permitted(0x1105));
  EXPECT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105"));  // kept for the next call
  EXPECT_TRUE(permitted(0x1105));
  EXPECT_FALSE(permitted(0x1105));
}

// Forwards to the simulated registry, but a writer changes the one-time
// permission to a standing one right before it is taken.
class ChangingRegistry : public FaultyRegistry {
 public:
  ChangingRegistry(sim::SimRegistry& inner, FaultPlan& noFaults) : FaultyRegistry(inner, noFaults), inner_(inner) {}
  DWORD takeValue(HKEY k, const wchar_t* n, const BYTE* e, DWORD s) override {
    const BYTE standing[4] = {2, 0, 0, 0};
    inner_.setValue(k, n, REG_DWORD, standing, 4);
    return inner_.takeValue(k, n, e, s);
  }

 private:
  sim::SimRegistry& inner_;
};

TEST_F(PermissionTest, PermissionChangedWhileBeingTakenIsDecidedOnItsNewData) {
  setDevice(L"1105", REG_DWORD, le(1, 4));
  FaultPlan noFaults;
  ChangingRegistry changing(sim_.registry, noFaults);
  port::Platform record = port::platform();
  record.registry = &changing;
  port::installPlatform(record);
  EXPECT_TRUE(permitted(0x1105));
  sim_.install();
  std::vector<BYTE> data;
  ASSERT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105", &data));
  EXPECT_EQ(le(2, 4), data);  // the standing permission was not consumed
}

TEST_F(PermissionTest, OneTimePermissionGrantsOnceAmongRacingThreads) {
  for (int round = 0; round < 50; ++round) {
    setDevice(L"1105", REG_DWORD, le(1, 4));
    ASSERT_EQ(1, utils::testing::raceThreads(8, [&] { return permitted(0x1105); })) << "round " << round;
  }
}

}  // namespace
}  // namespace utils::test
