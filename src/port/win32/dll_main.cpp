// The entry point of utils.dll: when the DLL is loaded into a process it installs
// the Win32 adapters and runs the load step of the library logic.
#include <windows.h>

#include "diag/debug_settings.h"
#include "port/win32/win32_platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    utils::win32port::installNativePlatform();
    utils::diag::processAttach();
  }
  return TRUE;
}
