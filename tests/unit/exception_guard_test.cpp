// No exception leaves an exported function. Each row runs one function once
// for every call it makes to a platform port, with that call throwing
// std::bad_alloc (as a failed allocation inside a real adapter would): the
// function must answer its own failure value, write one trace line naming
// itself, and release everything it had obtained.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "dialup_fixture.h"
#include "faulty_ports.h"
#include "ui/shell_checks.h"
#include "utils/notification.h"
#include "utils/policy.h"
#include "utils/radio.h"
#include "utils/registry.h"
#include "utils/ui.h"

namespace utils::test {
namespace {

constexpr uint64_t kNoResult = 0;  // the answer of a function without a result

uint64_t asNumber(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

// Runs a handle-returning call and releases what it handed out.
uint64_t released(HANDLE handle) {
  const uint64_t number = asNumber(handle);
  if (handle != nullptr) releaseHandle(handle);
  return number;
}

DWORD acceptUnlock(ULONGLONG, const wchar_t*, const wchar_t*, const wchar_t*, DWORD) { return 0; }

struct Row {
  const char* traced;  // the function name in the trace line
  std::function<uint64_t()> call;
  uint64_t failure = 0;
};

class ExceptionGuardTest : public DunTest {
 protected:
  void SetUp() override {
    DunTest::SetUp();
    faulty_.install();
    ASSERT_TRUE(SetRegisterDWORD(L"Software\\Guard", L"Number", 4, HKEY_CURRENT_USER) &&
                SetRegisterStr(L"Software\\Guard", L"Text", L"h", HKEY_CURRENT_USER));
    // The language library named by the settings, a right password and an
    // unlock component that accepts it, a taskbar on a monitor.
    const wchar_t* const lang = L"SOFTWARE\\Vorlane\\Pelmora\\Lang";
    ASSERT_TRUE(SetRegisterDWORD(lang, L"DisableLangFromLocal", 1, HKEY_LOCAL_MACHINE) &&
                SetRegisterStr(lang, L"VskStack", L"l.d", HKEY_LOCAL_MACHINE));
    sim_.modules.define(L"l.d");
    sim_.modules.define(L"VskSdkDll.dll",
                        {{"LE_EnableUnlockFeature", reinterpret_cast<port::ModuleEntry>(&acceptUnlock)}});
    sim_.credentials.setAccount(L"alice", L"");
    sim_.credentials.setAccountPassword(L"pw");
    sim_.credentials.setEntry({.password = L"pw"});
    sim_.shell.setTaskbar(reinterpret_cast<HWND>(0x10), reinterpret_cast<HMONITOR>(0x20));
  }

  bool traced(const std::string& function) const {
    const std::string wanted = "[4][utils]" + function + " failed: out of memory";
    for (const auto& message : messages()) {
      if (message == wanted) return true;
    }
    return false;
  }

  FaultyPlatform faulty_{sim_};
};

TEST_F(ExceptionGuardTest, EveryFailingPortCallGivesTheFailureAnswer) {
  const BtAddr phone = kPhone;
  const BYTE local[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  const BYTE remote[6] = {0x00, 0x19, 0xA1, 0xB2, 0xC3, 0xD4};
  const GUID ftp{0x00001106, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5f, 0x9b, 0x34, 0xfb}};
  const BYTE parameters[2] = {1, 2};
  BLUETOOTH_RADIO_INFO info{};
  wchar_t text[8] = {};
  DWORD number = 0;
  void* shellContext = M2D_Initialize();
  ASSERT_NE(nullptr, shellContext);
  const int shellObjects = sim_.shell.liveObjects();

  const wchar_t* const guard = L"Software\\Guard";
  const HKEY user = HKEY_CURRENT_USER;
  const Row rows[] = {
      {"SetRegisterDWORD", [&] { return SetRegisterDWORD(guard, L"Set", 7, user); }},
      {"GetRegisterDWORD", [&] { return GetRegisterDWORD(guard, L"Number", &number, user); }},
      {"SetRegisterStr", [&] { return SetRegisterStr(guard, L"S", L"x", user); }},
      {"GetRegisterStr", [&] { return GetRegisterStr(guard, L"Text", text, 8, user); }},
      {"CreateRegisterSubKey", [&] { return CreateRegisterSubKey(L"Software\\Guard\\New", user); }},
      {"DeleteRegisterSubkey", [&] { return DeleteRegisterSubkey(guard, L"Set", user); }},
      {"DeleteRegisterSubTree", [&] { return DeleteRegisterSubTree(L"Software\\Guard\\New", user); }},
      {"OpenBusHandle", [] { return released(OpenBusHandle()); }},
      {"EnumerateFirstBthRadioHandle", [&] { return released(EnumerateFirstBthRadioHandle(&info)); }},
      {"SendVendorHCICmdEx", [&] { return SendVendorHCICmdEx(0xFC01, 2, parameters, TRUE, 0x5A, nullptr, 0); },
       ERROR_NOT_ENOUGH_MEMORY},
      {"SendVendorHCICmdEx", [&] { return SendVendorHCICmd(0xFC01, 2, parameters, FALSE, 0); },
       ERROR_NOT_ENOUGH_MEMORY},
      {"NotifyDriverPairedDeviceNum", [] { return NotifyDriverPairedDeviceNum(), kNoResult; }},
      {"CheckBtStackIsStart", [] { return CheckBtStackIsStart(); }},
      {"BtDriverIsReady", [] { return BtDriverIsReady(); }},
      {"DeviceIsVorlane", [] { return DeviceIsVorlane(); }},
      {"SendRssiCmdWithAddr", [&] { return SendRssiCmdWithAddr(remote); }, 0xFFFFFFFE},
      {"UTIL_BT_Initialize", [&] { return UTIL_BT_Initialize(phone), kNoResult; }},
      {"IsRequestPermitted", [&] { return IsRequestPermitted(local, remote, 0x1105); }},
      {"UTILS_EnableNewServices", [&] { return UTILS_EnableNewServices(&phone), kNoResult; }},
      {"UTILS_BluetoothIsLocalServiceSupported", [&] { return UTILS_BluetoothIsLocalServiceSupported(&ftp); }},
      {"UTILS_FtpClientRegistered", [&] { return UTILS_FtpClientRegistered(&phone); }},
      {"DunInitialize", [&] { return DunInitialize(phone), kNoResult; }},
      {"DunConnect", [] { return DunConnect(); }, FALSE},
      {"DunDisConnect", [] { return DunDisConnect(), kNoResult; }},
      {"GetUserPassword", [] { return GetUserPassword(1, nullptr); }, FALSE},
      {"LoadVskStackLangLibrary",
       [this] {
         HMODULE module = LoadVskStackLangLibrary();
         if (module != nullptr) sim_.modules.release(module);
         return asNumber(module);
       }},
      {"GetAdditionalMessageBoxStyle", [] { return GetAdditionalMessageBoxStyle(); }},
      {"M2D_IsWindows8", [] { return ui::resetWindowsVersionCache(), M2D_IsWindows8(); }},
      {"M2D_Initialize",
       [] {
         void* context = M2D_Initialize();
         M2D_Uninitialize(context);
         return asNumber(context);
       }},
      {"M2D_NeedSwitch2ShellTray", [&] { return M2D_NeedSwitch2ShellTray(shellContext); }, 1},
  };

  for (const Row& row : rows) {
    size_t failures = 0;
    for (size_t call = 1;; ++call) {
      SCOPED_TRACE(std::string(row.traced) + ", port call " + std::to_string(call) + " throws");
      sim_.debugOutput.clear();
      faulty_.plan.failCall(call);
      const uint64_t answer = row.call();
      faulty_.plan.disarm();
      if (!faulty_.plan.fired()) break;  // the function made fewer calls: done
      ++failures;
      EXPECT_EQ(row.failure, answer);
      EXPECT_TRUE(traced(row.traced)) << (messages().empty() ? std::string("(none)") : messages().back());
      EXPECT_EQ(0u, sim_.registry.openHandles()) << "a registry key was left open";
      EXPECT_EQ(0u, sim_.radio.openHandles()) << "a radio handle or search was left open";
      EXPECT_EQ(0u, sim_.bus.openHandleCount()) << "a bus handle was left open";
      EXPECT_EQ(sim_.rfcomm.startups(), sim_.rfcomm.cleanups()) << "a socket layer start-up was not ended";
      EXPECT_EQ(0, sim_.modules.openLoads()) << "a library was left loaded";
      EXPECT_EQ(0, sim_.credentials.liveRecords()) << "a credentials record was not released";
      EXPECT_EQ(shellObjects, sim_.shell.liveObjects()) << "an app visibility object was left";
      // A notification service that failed to start holds nothing.
      if (std::string(row.traced) == "UTIL_BT_Initialize") {
        EXPECT_EQ(0u, sim_.notification.windowCount());
        EXPECT_EQ(0u, sim_.notification.registrationCount());
        EXPECT_EQ(0u, sim_.notification.threadsRunning());
      }
      UTIL_BT_Uninitialize();
      ASSERT_TRUE(sim_.notification.settle());
    }
    EXPECT_GT(failures, 0u) << row.traced << " made no port call: the row tests nothing";
    UTIL_BT_Uninitialize();
  }
  M2D_Uninitialize(shellContext);
}

}  // namespace
}  // namespace utils::test
