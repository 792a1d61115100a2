// A simulated shell: a settable interface language and system version, and an
// app visibility object whose answers and failures the test chooses.
#pragma once

#include <mutex>
#include <vector>

#include "port/shell_port.h"

namespace utils::sim {

class SimShell : public port::ShellPort {
 public:
  // What the next app visibility object answers.
  struct Visibility {
    DWORD createError = 0;  // non-zero: the object cannot be created
    DWORD launcherError = 0;
    BOOL launcherVisible = FALSE;
    DWORD monitorError = 0;
    DWORD mode = port::kNoAppVisible;
  };

  LANGID userUiLanguage() override;
  DWORD osVersion(DWORD* major, DWORD* minor) override;
  DWORD createAppVisibility(std::unique_ptr<port::AppVisibility>* object) override;
  HWND findWindow(const wchar_t* className) override;
  HMONITOR monitorFromWindow(HWND window) override;

  void setLanguage(LANGID language);
  // versionError non-zero makes the version unreadable.
  void setVersion(DWORD major, DWORD minor, DWORD versionError = 0);
  void setVisibility(const Visibility& visibility);
  // The taskbar window (null: none) and its monitor (null: none).
  void setTaskbar(HWND taskbar, HMONITOR monitor);

  int versionReads() const;
  // Class names looked for, in order; monitors asked of the visibility objects.
  std::vector<std::wstring> windowsSought() const;
  std::vector<HMONITOR> monitorsAsked() const;
  // App visibility objects alive now.
  int liveObjects() const;

 private:
  class Object;
  mutable std::mutex mutex_;
  LANGID language_ = 1033;
  DWORD major_ = 10;
  DWORD minor_ = 0;
  DWORD versionError_ = 0;
  int versionReads_ = 0;
  Visibility visibility_;
  HWND taskbar_ = nullptr;
  HMONITOR monitor_ = nullptr;
  std::vector<std::wstring> windowsSought_;
  std::vector<HMONITOR> monitorsAsked_;
  int liveObjects_ = 0;
};

}  // namespace utils::sim
