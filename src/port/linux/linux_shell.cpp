#include "port/linux/linux_shell.h"

#include <cstdlib>

#include "port/linux/locale_language.h"

namespace utils::linuxport {
namespace {

constexpr DWORD kClassNotRegistered = 0x80040154;  // REGDB_E_CLASSNOTREG

}  // namespace

LANGID LinuxShell::userUiLanguage() {
  return uiLanguageFromEnvironment([](const char* name) { return std::getenv(name); });
}

DWORD LinuxShell::osVersion(DWORD* major, DWORD* minor) {
  // Not Windows: a version below Windows 8's 6.2, so M2D_IsWindows8 answers 0.
  *major = 0;
  *minor = 0;
  return ERROR_SUCCESS;
}

DWORD LinuxShell::createAppVisibility(std::unique_ptr<port::AppVisibility>* object) {
  object->reset();
  return kClassNotRegistered;
}

HWND LinuxShell::findWindow(const wchar_t*) { return nullptr; }

HMONITOR LinuxShell::monitorFromWindow(HWND) { return nullptr; }

}  // namespace utils::linuxport
