#include <atomic>
#include <thread>

#include "policy_fixture.h"
#include "utils/policy.h"

namespace utils::test {
namespace {

const BYTE kLocal[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const BYTE kRemote[6] = {0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB};
const std::wstring kDeviceKey = L"SOFTWARE\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55\\66:77:88:99:AA:BB";
constexpr uint64_t kHour = 36000000000ULL;  // in 100-ns units

class PermissionTest : public PolicyTest {
 protected:
  void setDevice(const wchar_t* name, DWORD type, std::vector<BYTE> data) {
    put(HKEY_CURRENT_USER, kDeviceKey, name, type, std::move(data));
  }
  BOOL permitted(WORD code) { return IsRequestPermitted(kLocal, kRemote, code); }
  uint64_t now() { return sim_.clock.systemTimeAsFileTime(); }
};

TEST_F(PermissionTest, MachineWideSwitch) {
  EXPECT_FALSE(permitted(0x1105));
  put(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora", L"SkipPermit", REG_DWORD, le(2, 4));
  EXPECT_FALSE(permitted(0x1105));  // only exactly 1 grants
  put(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora", L"SkipPermit", REG_QWORD, le(1, 8));
  EXPECT_FALSE(permitted(0x1105));  // a QWORD is not accepted
  put(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vorlane\\Pelmora", L"SkipPermit", REG_BINARY, le(1, 4));
  EXPECT_TRUE(permitted(0x1105));
  put(HKEY_LOCAL_MACHINE, L"software\\vorlane\\pelmora", L"skippermit", REG_DWORD, le(1, 4));
  // Granted without looking at the addresses.
  EXPECT_TRUE(IsRequestPermitted(nullptr, nullptr, 7));
  EXPECT_EQ(0u, sim_.registry.openHandles());
}

TEST_F(PermissionTest, DeviceKeyAndAllowAll) {
  EXPECT_FALSE(IsRequestPermitted(nullptr, kRemote, 1));  // refused, not read through
  makeKey(HKEY_CURRENT_USER, kDeviceKey);
  EXPECT_FALSE(permitted(0x1105));  // an empty key denies
  setDevice(L"AllowAll", REG_QWORD, le(0, 8));
  EXPECT_FALSE(permitted(0x1105));
  setDevice(L"AllowAll", REG_QWORD, le(0xFFFFFFFF00000000ULL, 8));  // only the high half set
  EXPECT_TRUE(permitted(0x1105));
  setDevice(L"AllowAll", REG_BINARY, {1});  // shorter data reads zero-extended
  EXPECT_TRUE(permitted(0x1105));
  setDevice(L"AllowAll", REG_BINARY, std::vector<BYTE>(9, 1));  // too long: unreadable
  EXPECT_FALSE(permitted(0x1105));
  // The addresses print with upper-case digits: a key spelled in lower case is the same key.
  EXPECT_FALSE(IsRequestPermitted(kRemote, kLocal, 0x1105));
  put(HKEY_CURRENT_USER, L"software\\vorlane\\pelmora\\devices\\66:77:88:99:aa:bb\\00:11:22:33:44:55", L"AllowAll",
      REG_QWORD, le(1, 8));
  EXPECT_TRUE(IsRequestPermitted(kRemote, kLocal, 0x1105));
  EXPECT_EQ(0u, sim_.registry.openHandles());
}

TEST_F(PermissionTest, RequestValueNamesAreLowerCaseHex) {
  setDevice(L"1105", REG_DWORD, le(2, 4));
  setDevice(L"abcd", REG_DWORD, le(2, 4));
  setDevice(L"0", REG_DWORD, le(2, 4));
  EXPECT_TRUE(permitted(0x1105));
  EXPECT_TRUE(permitted(0xABCD));
  EXPECT_TRUE(permitted(0));
  EXPECT_FALSE(permitted(0x105));
  EXPECT_FALSE(permitted(0xABC));
}

TEST_F(PermissionTest, StandingAndOneTimePermissions) {
  setDevice(L"1105", REG_DWORD, le(2, 4));
  EXPECT_TRUE(permitted(0x1105));
  EXPECT_TRUE(permitted(0x1105));
  EXPECT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105"));

  // A one-time permission grants once and is gone; the second call falls through
  // to the time value.
  setDevice(L"1106", REG_DWORD, le(1, 4));
  setDevice(L"1106_time", REG_QWORD, le(now() - kHour, 8));
  EXPECT_TRUE(permitted(0x1106));
  EXPECT_FALSE(read(HKEY_CURRENT_USER, kDeviceKey, L"1106"));
  EXPECT_FALSE(permitted(0x1106));
  setDevice(L"1106", REG_DWORD, le(1, 4));
  setDevice(L"1106_time", REG_QWORD, le(now() + kHour, 8));
  EXPECT_TRUE(permitted(0x1106));
  EXPECT_TRUE(permitted(0x1106));  // now by the time value

  // Stored shorter it still reads as 1; stored as 8 bytes it is unreadable.
  setDevice(L"1107", REG_BINARY, {1});
  EXPECT_TRUE(permitted(0x1107));
  EXPECT_FALSE(read(HKEY_CURRENT_USER, kDeviceKey, L"1107"));
  setDevice(L"1108", REG_QWORD, le(2, 8));
  EXPECT_FALSE(permitted(0x1108));
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

TEST_F(PermissionTest, TimeValue) {
  setDevice(L"1105", REG_DWORD, le(0, 4));
  setDevice(L"1105_time", REG_QWORD, le(now() + kHour, 8));
  EXPECT_TRUE(permitted(0x1105));
  setDevice(L"1105_time", REG_QWORD, le(now(), 8));  // exactly now grants
  EXPECT_TRUE(permitted(0x1105));
  sim_.clock.advanceMs(1);
  EXPECT_FALSE(permitted(0x1105));
  setDevice(L"1105_time", REG_QWORD, le(now() - kHour, 8));
  EXPECT_FALSE(permitted(0x1105));
  EXPECT_TRUE(read(HKEY_CURRENT_USER, kDeviceKey, L"1105_time"));   // an expired value stays
  setDevice(L"1105_time", REG_BINARY, std::vector<BYTE>(9, 0xFF));  // too long: unreadable
  EXPECT_FALSE(permitted(0x1105));
}

// Forwards to the simulated registry, but a writer changes the one-time
// permission to a standing one right before it is taken.
class ChangingRegistry : public port::RegistryPort {
 public:
  explicit ChangingRegistry(sim::SimRegistry& inner) : inner_(inner) {}
  DWORD openKey(HKEY r, const wchar_t* s, REGSAM a, HKEY* k) override { return inner_.openKey(r, s, a, k); }
  DWORD createKey(HKEY r, const wchar_t* s, REGSAM a, HKEY* k, DWORD* d) override {
    return inner_.createKey(r, s, a, k, d);
  }
  DWORD closeKey(HKEY k) override { return inner_.closeKey(k); }
  DWORD queryValue(HKEY k, const wchar_t* n, DWORD* t, BYTE* d, DWORD* s) override {
    return inner_.queryValue(k, n, t, d, s);
  }
  DWORD setValue(HKEY k, const wchar_t* n, DWORD t, const BYTE* d, DWORD s) override {
    return inner_.setValue(k, n, t, d, s);
  }
  DWORD deleteValue(HKEY k, const wchar_t* n) override { return inner_.deleteValue(k, n); }
  DWORD deleteTree(HKEY k, const wchar_t* s) override { return inner_.deleteTree(k, s); }
  DWORD enumValue(HKEY k, DWORD i, wchar_t* n, DWORD* c, DWORD* t, BYTE* d, DWORD* s) override {
    return inner_.enumValue(k, i, n, c, t, d, s);
  }
  DWORD enumKey(HKEY k, DWORD i, wchar_t* n, DWORD* c) override { return inner_.enumKey(k, i, n, c); }
  DWORD queryInfoKey(HKEY k, DWORD* s, DWORD* v) override { return inner_.queryInfoKey(k, s, v); }
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
  ChangingRegistry changing(sim_.registry);
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
  constexpr int kThreads = 8;
  for (int round = 0; round < 50; ++round) {
    setDevice(L"1105", REG_DWORD, le(1, 4));
    std::atomic<int> ready{0};
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        if (permitted(0x1105)) granted.fetch_add(1);
      });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(1, granted.load()) << "round " << round;
  }
}

}  // namespace
}  // namespace utils::test
