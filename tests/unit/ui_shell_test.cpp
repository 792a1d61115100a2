// The Windows version check and the start-screen and taskbar check on the
// simulated shell, with their trace lines, and the warning dialog's placement.
#include "policy_fixture.h"
#include "port/dialog_placement.h"
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
    const char* message;  // traced by each call, after "M2D_NeedSwitch2ShellTray: "
    bool seeksTaskbar;
  };
  const std::vector<Row> rows = {
      {"desktop showing", {.mode = port::kNoAppVisible}, true, true, 0, nullptr, true},
      {"full-screen app", {.mode = port::kAppVisible}, true, true, 1, nullptr, true},
      {"unknown mode", {.mode = port::kAppVisibilityUnknown}, true, true, 1, nullptr, true},
      {"start screen", {.launcherVisible = TRUE}, true, true, 1, nullptr, false},
      {"launcher fails", {.launcherError = 0x80004005}, true, true, 1, "IsLauncherVisible failed - 0x80004005", false},
      {"no taskbar", {}, false, true, 0, "Failed to find Shell_traywnd!", true},
      {"no monitor", {}, true, false, 0, "Failed to get primary monitor!", true},
      {"monitor query fails", {.monitorError = 0x80070005}, true, true, 1, "Failed get app visibility!", true},
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
    const std::string message = row.message ? std::string("M2D_NeedSwitch2ShellTray: ") + row.message + "\n" : "";
    const std::vector<std::string> expected(row.message ? 2 : 0, message);
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

// Centring the warning dialog over its parent never puts it off the screen.
TEST(DialogPlacement, CentredThenKeptOnScreen) {
  struct Row {
    const char* what;
    port::DialogRect dialog, parent;
    long screenWidth, screenHeight;
    port::DialogOrigin expected;
  };
  const port::DialogRect dialog{10, 10, 310, 210};  // 300 x 200
  const Row rows[] = {
      {"centred", dialog, {100, 100, 700, 500}, 1920, 1080, {250, 200}},
      {"odd sizes truncate", dialog, {0, 0, 303, 203}, 1920, 1080, {1, 1}},
      {"near the right edge", dialog, {1700, 100, 1900, 300}, 1920, 1080, {1620, 100}},
      {"near the bottom", dialog, {100, 1000, 300, 1080}, 1920, 1080, {50, 880}},
      {"left of the screen", dialog, {-500, -400, -100, -100}, 1920, 1080, {0, 0}},
      {"dialog wider than the screen", {0, 0, 2500, 1500}, {0, 0, 1920, 1080}, 1920, 1080, {0, 0}},
      {"parent on a monitor to the right", dialog, {2000, 0, 2600, 400}, 1920, 1080, {1620, 100}},
  };
  for (const Row& row : rows) {
    const port::DialogOrigin got = port::centredOnScreen(row.dialog, row.parent, row.screenWidth, row.screenHeight);
    EXPECT_EQ(row.expected.x, got.x) << row.what;
    EXPECT_EQ(row.expected.y, got.y) << row.what;
    // Whatever the parent, the top-left corner is on the screen.
    EXPECT_GE(got.x, 0) << row.what;
    EXPECT_GE(got.y, 0) << row.what;
  }
}

}  // namespace
}  // namespace utils::test
