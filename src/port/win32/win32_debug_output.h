// The debugger output port on OutputDebugString: what a debugger or a
// DBWIN_BUFFER reader attached to the process sees.
#pragma once

#include "port/debug_output_port.h"

namespace utils::win32port {

class Win32DebugOutput : public port::DebugOutputPort {
 public:
  // The level and module tag are part of the line; the debugger output has no
  // fields for them.
  void writeLogLine(int level, const char* module, const char* line) override;
  void writeNarrow(const char* text) override;
  void writeWide(const wchar_t* text) override;
  // Converts with the system's OEM code page (WideCharToMultiByte, CP_OEMCP):
  // the size first, then into a heap buffer of exactly that size, of which the
  // characters that fit are copied.
  bool wideToOem(const wchar_t* text, char* destination, size_t capacity) override;
};

}  // namespace utils::win32port
