// The debugger output port on OutputDebugString: what a debugger or a
// DBWIN_BUFFER reader attached to the process sees.
#pragma once

#include "port/debug_output_port.h"

namespace utils::win32port {

class Win32DebugOutput : public port::DebugOutputPort {
 public:
  void writeNarrow(const char* text) override;
  void writeWide(const wchar_t* text) override;
  // Converts with the system's OEM code page (WideCharToMultiByte, CP_OEMCP).
  bool wideToOem(const wchar_t* text, std::string& out) override;
};

}  // namespace utils::win32port
