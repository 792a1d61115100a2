// Where the library's diagnostics go: the debugger output stream on Windows,
// the system log, standard error or a file elsewhere.
#pragma once

#include <cstddef>

namespace utils::port {

class DebugOutputPort {
 public:
  virtual ~DebugOutputPort() = default;

  // Writes a prefixed log line in one piece: line is the whole text, final
  // newline included; level and module (never null) are the ones it shows, for
  // outputs that keep them as separate fields (the system log's priority).
  virtual void writeLogLine(int level, const char* module, const char* line) = 0;

  // Writes a narrow text exactly as given (no newline added), in one piece.
  virtual void writeNarrow(const char* text) = 0;

  // Writes a wide text exactly as given, in one piece.
  virtual void writeWide(const wchar_t* text) = 0;

  // Converts a terminated wide text to the narrow encoding that stands for the
  // OEM code page (UTF-8 where there is none) into destination (capacity > 0
  // bytes), cut before a character that does not fit, always terminated.
  // Returns false when the text cannot be converted.
  virtual bool wideToOem(const wchar_t* text, char* destination, size_t capacity) = 0;
};

}  // namespace utils::port
