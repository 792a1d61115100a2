#include "port/linux/debug_output.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/utf16.h"

namespace utils::linuxport {

LinuxDebugOutput::LinuxDebugOutput(const char* setting) {
  if (setting == nullptr || setting[0] == '\0' || std::strcmp(setting, "stderr") == 0) return;
  if (std::strcmp(setting, "syslog") == 0) {
    sink_ = Sink::Syslog;
    return;
  }
  const int fd = ::open(setting, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;  // an unwritable file falls back to standard error
  sink_ = Sink::File;
  fd_ = fd;
}

LinuxDebugOutput::~LinuxDebugOutput() {
  if (sink_ == Sink::File) ::close(fd_);
}

void LinuxDebugOutput::write(const char* text, size_t length) {
  if (length == 0) return;
  if (sink_ == Sink::Syslog) {
    // The system log keeps lines of its own: a final newline is not repeated.
    const int shown = static_cast<int>(text[length - 1] == '\n' ? length - 1 : length);
    ::syslog(LOG_USER | LOG_DEBUG, "%.*s", shown, text);
    return;
  }
  // One write per text (O_APPEND makes each one atomic for a file); a short
  // write to a pipe is finished, an interrupted one retried.
  while (length > 0) {
    const ssize_t written = ::write(fd_, text, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;  // diagnostics never fail the caller
    }
    text += written;
    length -= static_cast<size_t>(written);
  }
}

void LinuxDebugOutput::writeNarrow(const char* text) { write(text, std::strlen(text)); }

void LinuxDebugOutput::writeWide(const wchar_t* text) {
  const std::string utf8 = wideToUtf8(text);
  write(utf8.data(), utf8.size());
}

bool LinuxDebugOutput::wideToOem(const wchar_t* text, std::string& out) {
  out = wideToUtf8(text);
  return true;
}

}  // namespace utils::linuxport
