// Tells whether the test runs under Wine, for the few checks where Wine's
// behaviour differs from Windows'.
#pragma once

#include <windows.h>

namespace utils::testing {

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool runningUnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace utils::testing
