// The shell port on Windows: GetUserDefaultUILanguage, GetVersionExW, the shell's
// IAppVisibility object, FindWindowW and MonitorFromWindow.
#pragma once

#include "port/shell_port.h"

namespace utils::win32port {

class Win32Shell : public port::ShellPort {
 public:
  LANGID userUiLanguage() override;
  DWORD osVersion(DWORD* major, DWORD* minor) override;
  DWORD createAppVisibility(std::unique_ptr<port::AppVisibility>* object) override;
  HWND findWindow(const wchar_t* className) override;
  HMONITOR monitorFromWindow(HWND window) override;
};

}  // namespace utils::win32port
