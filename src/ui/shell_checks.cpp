// Whether the system is Windows 8 or later, and on such systems whether the
// start screen or an app covers the desktop, through the shell's app visibility
// object.
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "diag/export_guard.h"
#include "port/platform.h"
#include "ui/shell_checks.h"
#include "utils/trace.h"
#include "utils/ui.h"

namespace utils::ui {
namespace {

constexpr DWORD kVersionUnknown = 0xFFFFFFFF;
constexpr int kTraceLevel = 3;

// Process-wide: the Windows version answer, kVersionUnknown until the first
// successful check. Every thread that computes it stores the same value.
std::atomic<DWORD> gIsWindows8{kVersionUnknown};

// The app-visibility context handed to callers between M2D_Initialize and
// M2D_Uninitialize.
struct AppVisibilityContext {
  port::AppVisibility* appVisibility;
};

DWORD isWindows8() {
  const DWORD cached = gIsWindows8.load(std::memory_order_relaxed);
  if (cached != kVersionUnknown) return cached;
  DWORD major = 0;
  DWORD minor = 0;
  if (port::platform().shell->osVersion(&major, &minor) != ERROR_SUCCESS) return 0;
  const DWORD answer = (major > 6 || (major == 6 && minor >= 2)) ? 1 : 0;
  gIsWindows8.store(answer, std::memory_order_relaxed);
  return answer;
}

void* initialize() {
  std::unique_ptr<void, decltype(&std::free)> memory(std::malloc(sizeof(AppVisibilityContext)), &std::free);
  if (memory == nullptr) {
    WRITELOG_W(kTraceLevel, L"utils", L"M2D_Initialize: Out of memory!");
    return nullptr;
  }
  std::unique_ptr<port::AppVisibility> object;
  if (port::platform().shell->createAppVisibility(&object) != ERROR_SUCCESS || !object) {
    WRITELOG_W(kTraceLevel, L"utils", L"M2D_Initialize: Failed to create CLSID_AppVisibility instance!");
    return nullptr;
  }
  new (memory.get()) AppVisibilityContext{object.release()};
  return memory.release();
}

DWORD needSwitchToShellTray(void* opaque) {
  if (opaque == nullptr) return 0;
  auto* context = static_cast<AppVisibilityContext*>(opaque);
  if (context->appVisibility == nullptr) return 0;
  BOOL launcherVisible = FALSE;
  if (const DWORD error = context->appVisibility->isLauncherVisible(&launcherVisible); error != ERROR_SUCCESS) {
    WRITELOG_W(kTraceLevel, L"utils", L"M2D_NeedSwitch2ShellTray: IsLauncherVisible failed - %#x", error);
    return 1;
  }
  if (launcherVisible) return 1;

  port::ShellPort& shell = *port::platform().shell;
  HWND taskbar = shell.findWindow(L"Shell_traywnd");
  if (taskbar == nullptr) {
    WRITELOG_W(kTraceLevel, L"utils", L"M2D_NeedSwitch2ShellTray: Failed to find Shell_traywnd!");
    return 0;
  }
  HMONITOR monitor = shell.monitorFromWindow(taskbar);
  if (monitor == nullptr) {
    WRITELOG_W(kTraceLevel, L"utils", L"M2D_NeedSwitch2ShellTray: Failed to get primary monitor!");
    return 0;
  }
  DWORD mode = port::kAppVisibilityUnknown;
  if (context->appVisibility->appVisibilityOnMonitor(monitor, &mode) != ERROR_SUCCESS) {
    WRITELOG_W(kTraceLevel, L"utils", L"M2D_NeedSwitch2ShellTray: Failed get app visibility!");
    return 1;
  }
  return mode == port::kNoAppVisible ? 0 : 1;
}

}  // namespace

void resetWindowsVersionCache() { gIsWindows8.store(kVersionUnknown); }

}  // namespace utils::ui

extern "C" {

UTILS_API DWORD M2D_IsWindows8(void) {
  return utils::diag::guardExport("M2D_IsWindows8", DWORD{0}, []() -> DWORD { return utils::ui::isWindows8(); });
}

UTILS_API void* M2D_Initialize(void) {
  return utils::diag::guardExport("M2D_Initialize", static_cast<void*>(nullptr),
                                  []() -> void* { return utils::ui::initialize(); });
}

UTILS_API DWORD M2D_NeedSwitch2ShellTray(void* context) {
  return utils::diag::guardExport("M2D_NeedSwitch2ShellTray", DWORD{1},
                                  [context]() -> DWORD { return utils::ui::needSwitchToShellTray(context); });
}

UTILS_API void M2D_Uninitialize(void* context) {
  if (context == nullptr) return;
  auto* record = static_cast<utils::ui::AppVisibilityContext*>(context);
  delete record->appVisibility;
  record->~AppVisibilityContext();
  std::free(context);
}

}  // extern "C"
