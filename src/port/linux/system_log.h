// The system log as a debug output: the journal's native socket (the level as
// the entry's priority, the module tag as a field of its own) or the classic
// syslog socket. Each text is one datagram sent without waiting: a log that is
// busy or absent loses the text, never stops or kills the caller.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

namespace utils::linuxport {

struct SystemLogSockets {
  std::string journal = "/run/systemd/journal/socket";
  std::string syslog = "/dev/log";
};

class SystemLog {
 public:
  // Journal: the journal, or the syslog socket while the journal cannot be
  // reached. Syslog: the syslog socket only.
  enum class Mode { Journal, Syslog };

  SystemLog(Mode mode, SystemLogSockets sockets);
  ~SystemLog();
  SystemLog(const SystemLog&) = delete;
  SystemLog& operator=(const SystemLog&) = delete;

  // One entry: text[0..length) less a final newline, at a priority from 0
  // (emergency) to 7 (debug); module and level are given for prefixed lines and
  // null for plain text.
  void send(const char* text, size_t length, int priority, const char* module, const int* level);

  // The priority of a prefixed line: its lowest set bit 0x1 is an error, 0x2 a
  // warning, 0x4 a notice, 0x8 information; any other level is debug output.
  static int priorityOf(int level);

  // Priority of plain trace text.
  static constexpr int kPlainPriority = 7;

 private:
  enum class Outcome { Sent, Unreachable };
  int socketDescriptor();
  Outcome sendJournal(const char* text, size_t length, int priority, const char* module, const int* level);
  Outcome sendSyslog(const char* text, size_t length, int priority);

  Mode mode_;
  SystemLogSockets sockets_;
  std::atomic<int> fd_{-1};  // one unbound datagram socket, made on first use
};

}  // namespace utils::linuxport
