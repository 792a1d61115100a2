#include "port/win32/win32_debug_output.h"

#include <windows.h>

namespace utils::win32port {

void Win32DebugOutput::writeNarrow(const char* text) { OutputDebugStringA(text); }

void Win32DebugOutput::writeWide(const wchar_t* text) { OutputDebugStringW(text); }

bool Win32DebugOutput::wideToOem(const wchar_t* text, std::string& out) {
  // First the size (terminator included), then the conversion itself.
  const int needed = WideCharToMultiByte(CP_OEMCP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  std::string converted(static_cast<size_t>(needed), '\0');
  const int written = WideCharToMultiByte(CP_OEMCP, 0, text, -1, converted.data(), needed, nullptr, nullptr);
  if (written <= 0) return false;
  converted.resize(static_cast<size_t>(written) - 1);
  out = std::move(converted);
  return true;
}

}  // namespace utils::win32port
