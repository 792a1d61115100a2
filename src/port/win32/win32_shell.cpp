#include "port/win32/win32_shell.h"

#include <windows.h>
// after windows.h, which they need
#include <objbase.h>
#include <shobjidl.h>

namespace utils::win32port {
namespace {

// The identifiers as the shell registers them (declared here so that no
// particular import library has to carry them).
constexpr CLSID kAppVisibilityClass = {0x7E5FE3D9, 0x985F, 0x4908, {0x91, 0xF9, 0xEE, 0x19, 0xF9, 0xFD, 0x15, 0x14}};
constexpr IID kAppVisibilityInterface = {0x2246EA2D, 0xCAEA, 0x4444, {0xA3, 0xC4, 0x6D, 0xE8, 0x27, 0xE4, 0x43, 0x13}};

class Win32AppVisibility : public port::AppVisibility {
 public:
  explicit Win32AppVisibility(IAppVisibility* object) : object_(object) {}
  ~Win32AppVisibility() override { object_->Release(); }
  Win32AppVisibility(const Win32AppVisibility&) = delete;
  Win32AppVisibility& operator=(const Win32AppVisibility&) = delete;

  DWORD isLauncherVisible(BOOL* visible) override {
    const HRESULT result = object_->IsLauncherVisible(visible);
    return FAILED(result) ? static_cast<DWORD>(result) : 0;
  }
  DWORD appVisibilityOnMonitor(HMONITOR monitor, DWORD* mode) override {
    MONITOR_APP_VISIBILITY visibility = MAV_UNKNOWN;
    const HRESULT result = object_->GetAppVisibilityOnMonitor(monitor, &visibility);
    if (result != S_OK) return result == S_FALSE ? ERROR_INVALID_FUNCTION : static_cast<DWORD>(result);
    *mode = static_cast<DWORD>(visibility);
    return 0;
  }

 private:
  IAppVisibility* object_;
};

}  // namespace

LANGID Win32Shell::userUiLanguage() { return GetUserDefaultUILanguage(); }

DWORD Win32Shell::osVersion(DWORD* major, DWORD* minor) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;  // 284
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(&info)) return GetLastError();
#pragma GCC diagnostic pop
  *major = info.dwMajorVersion;
  *minor = info.dwMinorVersion;
  return 0;
}

DWORD Win32Shell::createAppVisibility(std::unique_ptr<port::AppVisibility>* object) {
  object->reset();
  IAppVisibility* created = nullptr;
  const HRESULT result = CoCreateInstance(kAppVisibilityClass, nullptr, CLSCTX_INPROC_SERVER, kAppVisibilityInterface,
                                          reinterpret_cast<void**>(&created));
  if (FAILED(result) || created == nullptr) return FAILED(result) ? static_cast<DWORD>(result) : E_POINTER;
  *object = std::make_unique<Win32AppVisibility>(created);
  return 0;
}

HWND Win32Shell::findWindow(const wchar_t* className) { return FindWindowW(className, nullptr); }

HMONITOR Win32Shell::monitorFromWindow(HWND window) { return MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY); }

}  // namespace utils::win32port
