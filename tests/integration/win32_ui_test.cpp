// The language and shell helpers over the native Win32 adapters under Wine: the
// shell has no app visibility object and no taskbar there, and a language library
// named by the settings is loaded with LoadLibraryW.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, which it needs
#include <objbase.h>

#include <string>

#include "port/platform.h"
#include "port/win32/win32_platform.h"
#include "ui/shell_checks.h"
#include "utils/ui.h"
#include "wine_detect.h"

namespace {

const wchar_t* const kLangKey = L"SOFTWARE\\Vorlane\\Pelmora\\Lang";

class Win32UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!utils::testing::runningUnderWine()) GTEST_SKIP() << "expects Wine's shell";
    utils::win32port::installNativePlatform();
  }
  void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLangKey); }
};

TEST_F(Win32UiTest, ModulesLoadLookUpAndRelease) {
  utils::port::ModulePort& modules = *utils::port::platform().module;
  HMODULE module = nullptr;
  EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), modules.load(L"NoSuchLibrary.dll", &module));
  EXPECT_EQ(nullptr, module);
  ASSERT_EQ(0u, modules.load(L"kernel32.dll", &module));
  utils::port::ModuleEntry entry = nullptr;
  EXPECT_EQ(0u, modules.entry(module, "GetTickCount", &entry));
  EXPECT_NE(nullptr, entry);
  EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), modules.entry(module, "NoSuchEntry", &entry));
  EXPECT_EQ(nullptr, entry);
  EXPECT_EQ(0u, modules.release(module));
}

TEST_F(Win32UiTest, NoAppVisibilityOrTaskbarUnderWine) {
  utils::port::ShellPort& shell = *utils::port::platform().shell;
  std::unique_ptr<utils::port::AppVisibility> object;
  ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  EXPECT_EQ(0x80040154u, shell.createAppVisibility(&object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(nullptr, M2D_Initialize());
  CoUninitialize();
  EXPECT_EQ(nullptr, shell.findWindow(L"Shell_traywnd"));
  DWORD major = 0;
  DWORD minor = 0;
  ASSERT_EQ(0u, shell.osVersion(&major, &minor));
  utils::ui::resetWindowsVersionCache();
  EXPECT_EQ((major > 6 || (major == 6 && minor >= 2)) ? 1u : 0u, M2D_IsWindows8());
  EXPECT_EQ(GetUserDefaultUILanguage(), shell.userUiLanguage());
}

TEST_F(Win32UiTest, SettingsNameTheLibrary) {
  HKEY key = nullptr;
  ASSERT_EQ(0, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLangKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  const DWORD one = 1;
  RegSetValueExW(key, L"DisableLangFromLocal", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  const std::wstring path = UTILS_TEST_LANG_LIBRARY;
  RegSetValueExW(key, L"VskStack", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                 static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  HMODULE module = LoadVskStackLangLibrary();
  ASSERT_NE(nullptr, module);
  auto* marker = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "utilsTestLanguage")));
  ASSERT_NE(nullptr, marker);
  EXPECT_EQ(1036, marker());
  EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
