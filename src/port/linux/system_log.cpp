#include "port/linux/system_log.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace utils::linuxport {
namespace {

constexpr int kUserFacility = 1 << 3;  // LOG_USER

bool unreachable(int error) {
  return error == ENOENT || error == ECONNREFUSED || error == ENOTDIR || error == EACCES || error == EPERM ||
         error == ENAMETOOLONG;
}

// A datagram to the socket at path; false with errno set when it was not sent.
bool sendTo(int fd, const std::string& path, iovec* parts, size_t count) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  msghdr message{};
  message.msg_name = &address;
  message.msg_namelen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  message.msg_iov = parts;
  message.msg_iovlen = count;
  ssize_t sent;
  do {
    sent = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (sent < 0 && errno == EINTR);
  return sent >= 0;
}

// The fields of one journal entry in the native protocol. Every text value
// uses the length-prefixed form, so newlines inside it stay part of it.
class JournalEntry {
 public:
  void text(const char* name, const char* value, size_t length) {
    if (fields_ == kMaxFields) return;
    uint64_t size = length;
    for (int i = 0; i < 8; ++i) lengths_[fields_][i] = static_cast<char>(size >> (8 * i));
    add(name, std::strlen(name));
    add("\n", 1);
    add(lengths_[fields_], 8);
    add(value, length);
    add("\n", 1);
    ++fields_;
  }
  void number(const char* name, int value) {
    if (fields_ == kMaxFields) return;
    const int length = std::snprintf(numbers_[fields_], sizeof numbers_[fields_], "%s=%d\n", name, value);
    add(numbers_[fields_], static_cast<size_t>(length));
    ++fields_;
  }
  iovec* parts() { return parts_; }
  size_t count() const { return count_; }

 private:
  static constexpr size_t kMaxFields = 6;
  void add(const void* data, size_t length) {
    parts_[count_].iov_base = const_cast<void*>(data);
    parts_[count_].iov_len = length;
    ++count_;
  }
  iovec parts_[kMaxFields * 5];
  size_t count_ = 0;
  size_t fields_ = 0;
  char lengths_[kMaxFields][8];
  char numbers_[kMaxFields][40];
};

}  // namespace

SystemLog::SystemLog(Mode mode, SystemLogSockets sockets) : mode_(mode), sockets_(std::move(sockets)) {}

SystemLog::~SystemLog() {
  const int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

int SystemLog::priorityOf(int level) {
  const auto bits = static_cast<unsigned>(level);
  if (bits & 0x1) return 3;
  if (bits & 0x2) return 4;
  if (bits & 0x4) return 5;
  if (bits & 0x8) return 6;
  return 7;
}

int SystemLog::socketDescriptor() {
  int fd = fd_.load(std::memory_order_acquire);
  if (fd >= 0) return fd;
  const int made = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (made < 0) return -1;
  // Two first senders may both make one: the second closes its own.
  if (fd_.compare_exchange_strong(fd, made, std::memory_order_acq_rel)) return made;
  ::close(made);
  return fd;
}

void SystemLog::send(const char* text, size_t length, int priority, const char* module, const int* level) {
  if (length > 0 && text[length - 1] == '\n') --length;
  if (mode_ == Mode::Journal && sendJournal(text, length, priority, module, level) == Outcome::Sent) return;
  sendSyslog(text, length, priority);
}

SystemLog::Outcome SystemLog::sendJournal(const char* text, size_t length, int priority, const char* module,
                                          const int* level) {
  const int fd = socketDescriptor();
  if (fd < 0) return Outcome::Unreachable;
  JournalEntry entry;
  entry.text("MESSAGE", text, length);
  entry.number("PRIORITY", priority);
  const char* identifier = program_invocation_short_name;
  entry.text("SYSLOG_IDENTIFIER", identifier, std::strlen(identifier));
  if (module != nullptr) entry.text("UTILS_MODULE", module, std::strlen(module));
  if (level != nullptr) entry.number("UTILS_LEVEL", *level);
  if (sendTo(fd, sockets_.journal, entry.parts(), entry.count())) return Outcome::Sent;
  // A full journal drops the entry; only a missing one passes it on.
  return unreachable(errno) ? Outcome::Unreachable : Outcome::Sent;
}

SystemLog::Outcome SystemLog::sendSyslog(const char* text, size_t length, int priority) {
  const int fd = socketDescriptor();
  if (fd < 0) return Outcome::Unreachable;
  char header[128];
  const int headerLength = std::snprintf(header, sizeof header, "<%d>%.64s[%d]: ", kUserFacility | priority,
                                         program_invocation_short_name, static_cast<int>(::getpid()));
  iovec parts[2] = {{header, static_cast<size_t>(headerLength)}, {const_cast<char*>(text), length}};
  if (sendTo(fd, sockets_.syslog, parts, 2)) return Outcome::Sent;
  return unreachable(errno) ? Outcome::Unreachable : Outcome::Sent;
}

}  // namespace utils::linuxport
