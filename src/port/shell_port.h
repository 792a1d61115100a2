// The shell as the language and start-screen helpers see it: the user's interface
// language, the system version, the taskbar and its monitor, and the shell's app
// visibility object. On Linux the language comes from the locale variables, and
// there is no start screen: the app visibility object cannot be created.
#pragma once

#include <memory>

#include "utils/wintypes.h"

namespace utils::port {

// App visibility modes on a monitor (MONITOR_APP_VISIBILITY).
inline constexpr DWORD kAppVisibilityUnknown = 0;
inline constexpr DWORD kNoAppVisible = 1;
inline constexpr DWORD kAppVisible = 2;

// The shell's app visibility object (IAppVisibility), released with its owner.
// Results of its calls are 0 or the call's failure code (an HRESULT's bits).
class AppVisibility {
 public:
  virtual ~AppVisibility() = default;

  // Whether the start screen is shown. Returns 0 and the answer, or the error.
  virtual DWORD isLauncherVisible(BOOL* visible) = 0;

  // What shows on monitor: kNoAppVisible when the desktop does. Returns 0 and the
  // mode, or the error.
  virtual DWORD appVisibilityOnMonitor(HMONITOR monitor, DWORD* mode) = 0;
};

class ShellPort {
 public:
  virtual ~ShellPort() = default;

  // The user's interface language as a Windows language identifier (primary and
  // sub-language); 1033 (English, United States) when nothing better is known.
  virtual LANGID userUiLanguage() = 0;

  // The system's major and minor version as Windows numbers them. Returns 0 and
  // both, or the error with neither set.
  virtual DWORD osVersion(DWORD* major, DWORD* minor) = 0;

  // Creates the shell's app visibility object (the calling thread has initialised
  // COM). Returns 0 and the object, or the error (REGDB_E_CLASSNOTREG's bits where
  // the shell has none) with *object empty.
  virtual DWORD createAppVisibility(std::unique_ptr<AppVisibility>* object) = 0;

  // The top-level window of the given class name, or null when there is none.
  virtual HWND findWindow(const wchar_t* className) = 0;

  // The monitor that shows window, or the primary one (MONITOR_DEFAULTTOPRIMARY);
  // null when there is no monitor.
  virtual HMONITOR monitorFromWindow(HWND window) = 0;
};

}  // namespace utils::port
