#include "port/win32/win32_debug_output.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace utils::win32port {

void Win32DebugOutput::writeLogLine(int, const char*, const char* line) { OutputDebugStringA(line); }

void Win32DebugOutput::writeNarrow(const char* text) { OutputDebugStringA(text); }

void Win32DebugOutput::writeWide(const wchar_t* text) { OutputDebugStringW(text); }

bool Win32DebugOutput::wideToOem(const wchar_t* text, char* destination, size_t capacity) {
  // First the size (terminator included), then the conversion itself.
  const int needed = WideCharToMultiByte(CP_OEMCP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  std::vector<char> converted(static_cast<size_t>(needed));
  const int written = WideCharToMultiByte(CP_OEMCP, 0, text, -1, converted.data(), needed, nullptr, nullptr);
  if (written <= 0) return false;
  // Copy the characters that fit before the terminator, never half of a
  // double-byte character.
  const size_t length = static_cast<size_t>(written) - 1;
  size_t kept = 0;
  while (kept < length) {
    const size_t step = (IsDBCSLeadByteEx(CP_OEMCP, static_cast<BYTE>(converted[kept])) && kept + 1 < length) ? 2 : 1;
    if (kept + step > capacity - 1) break;
    kept += step;
  }
  std::memcpy(destination, converted.data(), kept);
  destination[kept] = '\0';
  return true;
}

}  // namespace utils::win32port
