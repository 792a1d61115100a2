// The Windows credentials adapter under Wine: the warning dialog from the
// resources, its texts and controls, its placement and closing; the path of the
// icon library beside the module; secret records; and GetUserPassword ending at
// once where Wine has no session record.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "port/platform.h"
#include "port/win32/warning_dialog.h"
#include "port/win32/warning_resources.h"
#include "port/win32/win32_credentials.h"
#include "port/win32/win32_platform.h"
#include "utils/ui.h"
#include "wine_detect.h"

namespace {

std::wstring controlText(HWND dialog, int id) {
  wchar_t text[128] = {};
  GetDlgItemTextW(dialog, id, text, 128);
  return text;
}

// Waits for the top-level "Warning" dialog of this process to appear (bounded).
HWND waitForDialog() {
  for (int i = 0; i < 2000; ++i) {
    if (HWND found = FindWindowW(nullptr, L"Warning"); found != nullptr) return found;
    Sleep(10);
  }
  return nullptr;
}

class Win32CredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!utils::testing::runningUnderWine()) GTEST_SKIP() << "expects Wine's null display";
  }
};

TEST_F(Win32CredentialsTest, WarningDialogFromTheResources) {
  std::atomic<DWORD> result{0xFFFF};
  std::thread shower([&result] { result = utils::win32port::showWarningDialog(nullptr); });
  HWND dialog = waitForDialog();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(L"  Invalid  password !", controlText(dialog, IDC_WARNING_TEXT));
  EXPECT_EQ(L"OK", controlText(dialog, IDC_WARNING_OK));
  EXPECT_NE(nullptr, GetDlgItem(dialog, IDC_WARNING_ICON));
  const LONG style = GetWindowLongW(dialog, GWL_STYLE);
  EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION);
  EXPECT_TRUE((style & WS_SYSMENU) != 0);
  // The OK button (any command) closes it.
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_WARNING_OK, BN_CLICKED), 0);
  shower.join();
  EXPECT_EQ(0u, result.load());
}

TEST_F(Win32CredentialsTest, WarningOverAParentNearTheEdgeStaysOnScreen) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  HWND parent = CreateWindowExW(0, L"STATIC", L"parent", WS_POPUP, screenWidth - 50, 10, 40, 40, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(nullptr, parent);
  std::thread shower([parent] { utils::win32port::showWarningDialog(parent); });
  HWND dialog = waitForDialog();
  ASSERT_NE(nullptr, dialog);
  RECT placed{};
  GetWindowRect(dialog, &placed);
  EXPECT_LE(placed.right, screenWidth);
  EXPECT_GE(placed.left, 0);
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  shower.join();
  DestroyWindow(parent);
}

TEST_F(Win32CredentialsTest, IconLibraryPathBesideTheModule) {
  wchar_t path[MAX_PATH];
  ASSERT_TRUE(utils::win32port::pathBesideModule(nullptr, L"BtCommonRes.dll", path));
  const std::wstring text = path;
  EXPECT_EQ(L"\\BtCommonRes.dll", text.substr(text.size() - 16));
  // A name that would not fit whole is refused, not cut.
  EXPECT_FALSE(utils::win32port::pathBesideModule(nullptr, std::wstring(MAX_PATH, L'x').c_str(), path));
}

TEST_F(Win32CredentialsTest, SecretRecordsAndNoSessionUnderWine) {
  utils::win32port::Win32Credentials credentials;
  utils::port::EnteredCredentials* record = credentials.allocateCredentials();
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(0u, record->passwordChars);
  record->password[0] = L'x';
  credentials.releaseCredentials(record);
  // Wine answers FALSE for the session record: no prompt, no dialog, result 0.
  utils::port::SessionAccount account;
  EXPECT_NE(0u, credentials.sessionAccount(&account));
  utils::win32port::installNativePlatform();
  EXPECT_EQ(FALSE, GetUserPassword(1, nullptr));
}

}  // namespace
