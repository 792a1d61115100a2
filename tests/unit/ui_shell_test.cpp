// The Windows version check and the start-screen and taskbar check on the
// simulated shell, with their trace lines.
#include "policy_fixture.h"
#include "ui/shell_checks.h"
#include "utils/ui.h"

namespace utils::test {
namespace {

class ShellTest : public PolicyTest {
 protected:
  void SetUp() override {
    PolicyTest::SetUp();
    ui::resetWindowsVersionCache();
    load(0xFF, 0);
  }
  void TearDown() override {
    ui::resetWindowsVersionCache();
    PolicyTest::TearDown();
  }
  HWND taskbar_ = reinterpret_cast<HWND>(0x1234);
  HMONITOR monitor_ = reinterpret_cast<HMONITOR>(0x5678);
};

TEST_F(ShellTest, WindowsEightFromSixTwoOn) {
  struct Row {
    DWORD major, minor, answer;
  };
  for (const Row& row : {Row{6, 1, 0}, Row{6, 2, 1}, Row{6, 3, 1}, Row{10, 0, 1}, Row{5, 9, 0}, Row{7, 0, 1}}) {
    ui::resetWindowsVersionCache();
    sim_.shell.setVersion(row.major, row.minor);
    EXPECT_EQ(row.answer, M2D_IsWindows8()) << row.major << "." << row.minor;
  }
}

TEST_F(ShellTest, VersionAnswerIsCachedOnlyOnSuccess) {
  sim_.shell.setVersion(10, 0, ERROR_INVALID_FUNCTION);
  EXPECT_EQ(0u, M2D_IsWindows8());
  sim_.shell.setVersion(10, 0);
  EXPECT_EQ(1u, M2D_IsWindows8());  // the failure was not kept
  sim_.shell.setVersion(6, 1);
  EXPECT_EQ(1u, M2D_IsWindows8());  // the success is
  EXPECT_EQ(2, sim_.shell.versionReads());
}

TEST_F(ShellTest, InitializeFailsWithoutTheShellObject) {
  sim_.shell.setVisibility({.createError = 0x80040154});
  EXPECT_EQ(nullptr, M2D_Initialize());
  EXPECT_EQ(std::vector<std::string>{"M2D_Initialize: Failed to create CLSID_AppVisibility instance!\n"}, messages());
  ASSERT_FALSE(lines().empty());
  EXPECT_NE(std::string::npos, lines()[0].find("[3][utils]"));
  M2D_Uninitialize(nullptr);  // does nothing
  EXPECT_EQ(0u, M2D_NeedSwitch2ShellTray(nullptr));
}

TEST_F(ShellTest, NeedSwitchAnswers) {
  struct Row {
    const char* what;
    sim::SimShell::Visibility visibility;
    bool taskbar, monitor;
    DWORD answer;
    std::vector<std::string> messages;
    bool seeksTaskbar;
  };
  const std::vector<Row> rows = {
      {"desktop showing", {.mode = port::kNoAppVisible}, true, true, 0, {}, true},
      {"full-screen app", {.mode = port::kAppVisible}, true, true, 1, {}, true},
      {"unknown mode", {.mode = port::kAppVisibilityUnknown}, true, true, 1, {}, true},
      {"start screen", {.launcherVisible = TRUE}, true, true, 1, {}, false},
      {"launcher query fails",
       {.launcherError = 0x80004005},
       true,
       true,
       1,
       {"M2D_NeedSwitch2ShellTray: IsLauncherVisible failed - 0x80004005\n"},
       false},
      {"no taskbar", {}, false, true, 0, {"M2D_NeedSwitch2ShellTray: Failed to find Shell_traywnd!\n"}, true},
      {"no monitor", {}, true, false, 0, {"M2D_NeedSwitch2ShellTray: Failed to get primary monitor!\n"}, true},
      {"monitor query fails",
       {.monitorError = 0x80070005},
       true,
       true,
       1,
       {"M2D_NeedSwitch2ShellTray: Failed get app visibility!\n"},
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    sim_.debugOutput.clear();
    const size_t sought = sim_.shell.windowsSought().size();
    const size_t asked = sim_.shell.monitorsAsked().size();
    sim_.shell.setVisibility(row.visibility);
    sim_.shell.setTaskbar(row.taskbar ? taskbar_ : nullptr, row.monitor ? monitor_ : nullptr);
    void* context = M2D_Initialize();
    ASSERT_NE(nullptr, context);
    EXPECT_EQ(1, sim_.shell.liveObjects());
    EXPECT_EQ(row.answer, M2D_NeedSwitch2ShellTray(context));
    EXPECT_EQ(row.answer, M2D_NeedSwitch2ShellTray(context));  // the context serves many calls
    std::vector<std::string> expected;
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), row.messages.begin(), row.messages.end());
    EXPECT_EQ(expected, messages());
    EXPECT_EQ(row.seeksTaskbar ? sought + 2 : sought, sim_.shell.windowsSought().size());
    const std::vector<HMONITOR> monitors = sim_.shell.monitorsAsked();
    if (row.taskbar && row.monitor && row.seeksTaskbar) {
      EXPECT_EQ((std::vector<HMONITOR>{monitor_, monitor_}),
                std::vector<HMONITOR>(monitors.begin() + asked, monitors.end()));
    }
    M2D_Uninitialize(context);
    EXPECT_EQ(0, sim_.shell.liveObjects());
  }
}

}  // namespace
}  // namespace utils::test
