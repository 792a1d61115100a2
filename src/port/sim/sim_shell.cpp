#include "port/sim/sim_shell.h"

#include <string>

namespace utils::sim {

class SimShell::Object : public port::AppVisibility {
 public:
  Object(SimShell& shell, const Visibility& answers) : shell_(shell), answers_(answers) {
    std::lock_guard lock(shell_.mutex_);
    ++shell_.liveObjects_;
  }
  ~Object() override {
    std::lock_guard lock(shell_.mutex_);
    --shell_.liveObjects_;
  }
  DWORD isLauncherVisible(BOOL* visible) override {
    if (answers_.launcherError != 0) return answers_.launcherError;
    *visible = answers_.launcherVisible;
    return 0;
  }
  DWORD appVisibilityOnMonitor(HMONITOR monitor, DWORD* mode) override {
    {
      std::lock_guard lock(shell_.mutex_);
      shell_.monitorsAsked_.push_back(monitor);
    }
    if (answers_.monitorError != 0) return answers_.monitorError;
    *mode = answers_.mode;
    return 0;
  }

 private:
  SimShell& shell_;
  Visibility answers_;
};

LANGID SimShell::userUiLanguage() {
  std::lock_guard lock(mutex_);
  return language_;
}

DWORD SimShell::osVersion(DWORD* major, DWORD* minor) {
  std::lock_guard lock(mutex_);
  ++versionReads_;
  if (versionError_ != 0) return versionError_;
  *major = major_;
  *minor = minor_;
  return 0;
}

DWORD SimShell::createAppVisibility(std::unique_ptr<port::AppVisibility>* object) {
  Visibility answers;
  {
    std::lock_guard lock(mutex_);
    answers = visibility_;
  }
  object->reset();
  if (answers.createError != 0) return answers.createError;
  *object = std::make_unique<Object>(*this, answers);
  return 0;
}

HWND SimShell::findWindow(const wchar_t* className) {
  std::lock_guard lock(mutex_);
  windowsSought_.emplace_back(className);
  return std::wstring(className) == L"Shell_traywnd" ? taskbar_ : nullptr;
}

HMONITOR SimShell::monitorFromWindow(HWND window) {
  std::lock_guard lock(mutex_);
  return (window != nullptr && window == taskbar_) ? monitor_ : nullptr;
}

void SimShell::setLanguage(LANGID language) {
  std::lock_guard lock(mutex_);
  language_ = language;
}

void SimShell::setVersion(DWORD major, DWORD minor, DWORD versionError) {
  std::lock_guard lock(mutex_);
  major_ = major;
  minor_ = minor;
  versionError_ = versionError;
}

void SimShell::setVisibility(const Visibility& visibility) {
  std::lock_guard lock(mutex_);
  visibility_ = visibility;
}

void SimShell::setTaskbar(HWND taskbar, HMONITOR monitor) {
  std::lock_guard lock(mutex_);
  taskbar_ = taskbar;
  monitor_ = monitor;
}

int SimShell::versionReads() const {
  std::lock_guard lock(mutex_);
  return versionReads_;
}

std::vector<std::wstring> SimShell::windowsSought() const {
  std::lock_guard lock(mutex_);
  return windowsSought_;
}

std::vector<HMONITOR> SimShell::monitorsAsked() const {
  std::lock_guard lock(mutex_);
  return monitorsAsked_;
}

int SimShell::liveObjects() const {
  std::lock_guard lock(mutex_);
  return liveObjects_;
}

}  // namespace utils::sim
