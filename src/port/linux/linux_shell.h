// The shell port on Linux: the interface language from the locale variables, the
// kernel's version in place of Windows's (never Windows 8), and no start screen
// or taskbar: the app visibility object cannot be created.
#pragma once

#include "port/shell_port.h"

namespace utils::linuxport {

class LinuxShell : public port::ShellPort {
 public:
  LANGID userUiLanguage() override;
  DWORD osVersion(DWORD* major, DWORD* minor) override;
  DWORD createAppVisibility(std::unique_ptr<port::AppVisibility>* object) override;
  HWND findWindow(const wchar_t* className) override;
  HMONITOR monitorFromWindow(HWND window) override;
};

}  // namespace utils::linuxport
