// Where the library's diagnostics go: the debugger output stream on Windows,
// standard error, the system log or a file elsewhere.
#pragma once

#include <string>

namespace utils::port {

class DebugOutputPort {
 public:
  virtual ~DebugOutputPort() = default;

  // Writes a narrow text exactly as given (no newline added), in one piece.
  virtual void writeNarrow(const char* text) = 0;

  // Writes a wide text exactly as given, in one piece.
  virtual void writeWide(const wchar_t* text) = 0;

  // Converts a terminated wide text to the narrow encoding that stands for the
  // OEM code page (UTF-8 where there is none). Returns false on failure; out then
  // holds nothing useful.
  virtual bool wideToOem(const wchar_t* text, std::string& out) = 0;
};

}  // namespace utils::port
