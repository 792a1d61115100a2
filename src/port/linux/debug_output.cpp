#include "port/linux/debug_output.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <utility>

#include "common/utf16.h"

namespace utils::linuxport {
namespace {

constexpr int kUnopened = -2;
constexpr int kRefused = -1;
constexpr int kStandardError = 2;

// Keeps the caller's errno and shields the host from SIGPIPE while it lives:
// SIGPIPE is blocked for this thread, and one raised by our writes is taken
// back before the thread's own mask returns.
class HostShield {
 public:
  HostShield() : savedErrno_(errno) {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    wasPending_ = pipePending();
  }
  ~HostShield() {
    if (!wasPending_ && pipePending()) {
      const timespec zero{};
      while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    errno = savedErrno_;
  }
  HostShield(const HostShield&) = delete;
  HostShield& operator=(const HostShield&) = delete;

 private:
  static bool pipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
  }
  int savedErrno_;
  sigset_t pipe_;
  sigset_t previous_;
  bool wasPending_ = false;
};

// Writes as much of text as fd takes without waiting: a full pipe or terminal
// (or one whose reader is gone) loses the rest.
void writeWithoutWaiting(int fd, const char* text, size_t length) {
  while (length > 0) {
    pollfd ready{fd, POLLOUT, 0};
    const int polled = ::poll(&ready, 1, 0);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0 || (ready.revents & POLLOUT) == 0) return;
    const ssize_t written = ::write(fd, text, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// Opens path for appending, creating it if needed, without waiting for a FIFO's
// reader; anything but a regular file is refused.
int openRegularFile(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
  if (fd < 0) return kRefused;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return kRefused;
  }
  return fd;
}

}  // namespace

LinuxDebugOutput::LinuxDebugOutput(const char* setting, SystemLogSockets sockets)
    : fd_(kUnopened),
      log_(setting != nullptr && std::strcmp(setting, "syslog") == 0 ? SystemLog::Mode::Syslog
                                                                     : SystemLog::Mode::Journal,
           std::move(sockets)) {
  if (setting == nullptr || setting[0] == '\0' || std::strcmp(setting, "journal") == 0 ||
      std::strcmp(setting, "syslog") == 0) {
    return;
  }
  if (std::strcmp(setting, "stderr") == 0) {
    sink_ = Sink::StandardError;
    return;
  }
  sink_ = Sink::File;
  path_ = setting;
}

LinuxDebugOutput::~LinuxDebugOutput() {
  const int fd = fd_.exchange(kRefused);
  if (fd >= 0) ::close(fd);
}

int LinuxDebugOutput::fileDescriptor() {
  int fd = fd_.load(std::memory_order_acquire);
  if (fd != kUnopened) return fd;
  const int opened = openRegularFile(path_.c_str());
  // Two first writers may both open it: the second closes its own.
  if (fd_.compare_exchange_strong(fd, opened, std::memory_order_acq_rel)) return opened;
  if (opened >= 0) ::close(opened);
  return fd;
}

void LinuxDebugOutput::write(const char* text, size_t length, int priority, const char* module, const int* level) {
  if (length == 0) return;
  HostShield shield;
  if (sink_ == Sink::StandardError) {
    writeWithoutWaiting(kStandardError, text, length);
    return;
  }
  if (sink_ == Sink::File) {
    const int fd = fileDescriptor();
    if (fd >= 0) {
      writeWithoutWaiting(fd, text, length);
      return;
    }
  }
  log_.send(text, length, priority, module, level);
}

void LinuxDebugOutput::writeLogLine(int level, const char* module, const char* line) {
  write(line, std::strlen(line), SystemLog::priorityOf(level), module, &level);
}

void LinuxDebugOutput::writeNarrow(const char* text) {
  write(text, std::strlen(text), SystemLog::kPlainPriority, nullptr, nullptr);
}

void LinuxDebugOutput::writeWide(const wchar_t* text) {
  // Room for the longest wide trace text (2,047 characters of 4 UTF-8 bytes);
  // a longer text is cut at a whole character.
  char utf8[4 * 2048 + 1];
  const size_t length = wideToUtf8Bounded(text, std::wcslen(text), utf8, sizeof utf8);
  write(utf8, length, SystemLog::kPlainPriority, nullptr, nullptr);
}

bool LinuxDebugOutput::wideToOem(const wchar_t* text, char* destination, size_t capacity) {
  wideToUtf8Bounded(text, std::wcslen(text), destination, capacity);
  return true;
}

}  // namespace utils::linuxport
