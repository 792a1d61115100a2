// The Windows credentials adapter under Wine: the warning dialog from the
// resources, its texts and controls, its placement and closing; the path of the
// icon library beside the module; secret records; and GetUserPassword ending at
// once where Wine has no session record.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
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

// Handles the messages sent to this thread's windows until done() holds or about
// 20 s have passed; answers done().
template <typename Done>
bool pumpUntil(Done done) {
  for (int i = 0; i < 2000 && !done(); ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return done();
}

// Waits for the top-level "Warning" dialog of this process to be shown
// (bounded). A modal dialog is shown only after WM_INITDIALOG has placed it;
// before that it exists at its default place. Messages sent to this thread's
// windows are handled meanwhile: a modal dialog owned by one of them disables
// its owner with a message sent across threads and is created only once that
// message has been handled.
HWND waitForDialog() {
  HWND found = nullptr;
  pumpUntil([&found] {
    found = FindWindowW(nullptr, L"Warning");
    return found != nullptr && IsWindowVisible(found);
  });
  return found != nullptr && IsWindowVisible(found) ? found : nullptr;
}

// A small popup owner at the right edge of the screen.
HWND createOwnerNearTheRightEdge() {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  return CreateWindowExW(0, L"STATIC", L"parent", WS_POPUP, screenWidth - 50, 10, 40, 40, nullptr, nullptr, nullptr,
                         nullptr);
}

// The dialog is centred over its owner at the right edge, which would push it
// past the edge: it is moved back so that its right side is the screen's.
void expectOnScreen(HWND dialog) {
  RECT placed{};
  ASSERT_TRUE(GetWindowRect(dialog, &placed));
  EXPECT_EQ(placed.right, GetSystemMetrics(SM_CXSCREEN));
  EXPECT_GE(placed.left, 0);
  EXPECT_GE(placed.top, 0);
  EXPECT_GT(placed.right - placed.left, 0);
}

class Win32CredentialsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!utils::testing::runningUnderWine()) GTEST_SKIP() << "expects Wine's null display";
  }
};

// What a thread showing the dialog reports; shared, so that a thread left
// behind by a failed test never writes into a finished test's frame.
struct ShowerState {
  std::atomic<DWORD> result{0xFFFF};
  std::atomic<bool> ownerEnabledAfter{true};
};

// Shows the warning on a thread of its own, over owner or (nearTheEdge) over a
// window near the right edge that this thread makes; check() looks at the shown
// dialog, which then gets close. A thread still stuck in the dialog is left
// behind so that the failure is reported instead of hanging.
template <typename Check>
void showCheckAndClose(HWND owner, bool nearTheEdge, WPARAM close, Check check) {
  auto state = std::make_shared<ShowerState>();
  std::thread shower([owner, nearTheEdge, state] {
    const HWND parent = nearTheEdge ? createOwnerNearTheRightEdge() : owner;
    const DWORD result = nearTheEdge && parent == nullptr ? 0xDDDD : utils::win32port::showWarningDialog(parent);
    if (nearTheEdge) {
      state->ownerEnabledAfter = IsWindowEnabled(parent) != FALSE;
      DestroyWindow(parent);
    }
    state->result = result;
  });
  const HWND dialog = waitForDialog();
  if (dialog != nullptr) {
    check(dialog);
    PostMessageW(dialog, close != 0 ? WM_COMMAND : WM_CLOSE, close, 0);
  }
  // Enabling an owner of this thread again is a message sent to it: keep
  // handling them until the dialog's thread is done.
  if (pumpUntil([&] { return state->result.load() != 0xFFFF; })) {
    shower.join();
  } else {
    ADD_FAILURE() << "the dialog's thread did not finish";
    shower.detach();
  }
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(0u, state->result.load());
  EXPECT_TRUE(state->ownerEnabledAfter.load());
}

TEST_F(Win32CredentialsTest, WarningDialogFromTheResources) {
  // The OK button (any command) closes it.
  showCheckAndClose(nullptr, false, MAKEWPARAM(IDC_WARNING_OK, BN_CLICKED), [](HWND dialog) {
    EXPECT_EQ(L"  Invalid  password !", controlText(dialog, IDC_WARNING_TEXT));
    EXPECT_EQ(L"OK", controlText(dialog, IDC_WARNING_OK));
    EXPECT_NE(nullptr, GetDlgItem(dialog, IDC_WARNING_ICON));
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION);
    EXPECT_TRUE((style & WS_SYSMENU) != 0);
  });
}

// The usual case: the caller's window belongs to the thread that asks for the
// password.
TEST_F(Win32CredentialsTest, WarningOverAParentNearTheEdgeStaysOnScreen) {
  showCheckAndClose(nullptr, true, 0, expectOnScreen);
}

// An owner made by another thread: the dialog appears once that thread handles
// its messages, disables the owner while it is open and enables it again.
TEST_F(Win32CredentialsTest, WarningOverAnOwnerOfAnotherThread) {
  HWND parent = createOwnerNearTheRightEdge();
  ASSERT_NE(nullptr, parent);
  showCheckAndClose(parent, false, 0, [parent](HWND dialog) {
    expectOnScreen(dialog);
    EXPECT_FALSE(IsWindowEnabled(parent));
  });
  EXPECT_TRUE(IsWindowEnabled(parent));
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
