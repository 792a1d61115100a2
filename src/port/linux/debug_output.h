// Debugger output on Linux, chosen by UTILS_DEBUG_OUTPUT: "stderr" (the
// default), "syslog", or a file path (appended). Each text goes out in one
// write, so lines from several threads or processes never interleave.
#pragma once

#include <string>

#include "port/debug_output_port.h"

namespace utils::linuxport {

class LinuxDebugOutput : public port::DebugOutputPort {
 public:
  // setting: the value of UTILS_DEBUG_OUTPUT (null or empty: standard error).
  explicit LinuxDebugOutput(const char* setting);
  ~LinuxDebugOutput() override;
  LinuxDebugOutput(const LinuxDebugOutput&) = delete;
  LinuxDebugOutput& operator=(const LinuxDebugOutput&) = delete;

  void writeNarrow(const char* text) override;
  void writeWide(const wchar_t* text) override;
  // UTF-8 stands for the OEM code page; never fails.
  bool wideToOem(const wchar_t* text, std::string& out) override;

 private:
  enum class Sink { StandardError, Syslog, File };
  void write(const char* text, size_t length);

  Sink sink_ = Sink::StandardError;
  int fd_ = 2;
};

}  // namespace utils::linuxport
