// Debugger output on Linux, chosen by UTILS_DEBUG_OUTPUT: the system log (the
// default: the journal, else the syslog socket), "syslog" (the syslog socket
// only), "stderr", or a file path (appended). Each text goes out in one write,
// so lines from several threads or processes never interleave. Writing never
// blocks, never raises SIGPIPE and never changes errno: a full pipe or log
// loses the text instead.
#pragma once

#include <atomic>
#include <string>

#include "port/debug_output_port.h"
#include "port/linux/system_log.h"

namespace utils::linuxport {

class LinuxDebugOutput : public port::DebugOutputPort {
 public:
  // setting: the value of UTILS_DEBUG_OUTPUT (null or empty: the system log).
  // A file is created on the first text written to it; a path that names
  // anything but a regular file, or cannot be opened, is refused and the texts
  // go to the system log. sockets: where the system log listens.
  explicit LinuxDebugOutput(const char* setting, SystemLogSockets sockets = {});
  ~LinuxDebugOutput() override;
  LinuxDebugOutput(const LinuxDebugOutput&) = delete;
  LinuxDebugOutput& operator=(const LinuxDebugOutput&) = delete;

  void writeLogLine(int level, const char* module, const char* line) override;
  void writeNarrow(const char* text) override;
  void writeWide(const wchar_t* text) override;
  // UTF-8 stands for the OEM code page; never fails.
  bool wideToOem(const wchar_t* text, char* destination, size_t capacity) override;

 private:
  enum class Sink { SystemLog, StandardError, File };
  void write(const char* text, size_t length, int priority, const char* module, const int* level);
  // The file's descriptor, opened on first use; -1 when it was refused.
  int fileDescriptor();

  Sink sink_ = Sink::SystemLog;
  std::string path_;
  std::atomic<int> fd_;
  SystemLog log_;
};

}  // namespace utils::linuxport
