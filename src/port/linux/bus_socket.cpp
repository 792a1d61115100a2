#include "port/linux/bus_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace utils::linuxport {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::string busSocketPath() {
  // Not taken from the environment of a privileged process (set-user-ID).
  const char* configured = ::secure_getenv("UTILS_BUS_SOCKET");
  return configured != nullptr && *configured != '\0' ? configured : busproto::kDefaultSocketPath;
}

DWORD busErrnoToWin32(int error) {
  switch (error) {
    case ENOENT:
    case ECONNREFUSED:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG: return ERROR_BAD_PATHNAME;
    case ENOMEM:
    case ENOBUFS: return ERROR_NOT_ENOUGH_MEMORY;
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN: return ERROR_DEVICE_NOT_CONNECTED;
    case ETIMEDOUT:
    case EAGAIN: return ERROR_SEM_TIMEOUT;
    default: return ERROR_GEN_FAILURE;
  }
}

BusSocket::~BusSocket() {
  if (fd_ >= 0) ::close(fd_);
}

DWORD BusSocket::connect(const std::string& path, std::unique_ptr<BusSocket>* connection) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return ERROR_BAD_PATHNAME;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return busErrnoToWin32(errno);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    return busErrnoToWin32(error);
  }
  // Non-blocking from here on: every wait is a poll with a deadline.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  connection->reset(new BusSocket(fd));
  return 0;
}

DWORD BusSocket::send(busproto::Type type, std::span<const uint8_t> body, int timeoutMs) {
  if (broken_) return ERROR_DEVICE_NOT_CONNECTED;
  std::vector<uint8_t> frame;
  frame.reserve(busproto::kHeaderSize + body.size());
  busproto::appendFrame(frame, type, body);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd waiting{fd_, POLLOUT, 0};
      if (::poll(&waiting, 1, remainingMs(deadline)) > 0) continue;
      broken_ = true;  // a frame half sent leaves the stream unusable
      return ERROR_SEM_TIMEOUT;
    }
    broken_ = true;
    return busErrnoToWin32(n < 0 ? errno : EPIPE);
  }
  return 0;
}

DWORD BusSocket::fill(int timeoutMs) {
  pollfd waiting{fd_, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&waiting, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) return ERROR_SEM_TIMEOUT;
  if (ready < 0) return busErrnoToWin32(errno);
  uint8_t chunk[4096];
  for (;;) {
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.insert(buffer_.end(), chunk, chunk + n);
      if (static_cast<size_t>(n) < sizeof chunk) return 0;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    broken_ = true;
    return n == 0 ? ERROR_DEVICE_NOT_CONNECTED : busErrnoToWin32(errno);
  }
}

DWORD BusSocket::takeFrame(busproto::Frame* frame, bool* taken) {
  size_t consumed = 0;
  *taken = false;
  switch (busproto::parseFrame(buffer_, frame, &consumed)) {
    case busproto::Parse::kFrame:
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(consumed));
      *taken = true;
      return 0;
    case busproto::Parse::kNeedMore: return 0;
    case busproto::Parse::kInvalid: break;
  }
  broken_ = true;
  buffer_.clear();
  return ERROR_INVALID_DATA;
}

DWORD BusSocket::receive(busproto::Frame* frame, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    bool taken = false;
    if (const DWORD error = takeFrame(frame, &taken); error != 0) return error;
    if (taken) return 0;
    if (broken_) return ERROR_DEVICE_NOT_CONNECTED;
    if (const DWORD error = fill(remainingMs(deadline)); error != 0) return error;
  }
}

DWORD BusSocket::receiveNow(busproto::Frame* frame) {
  bool taken = false;
  if (const DWORD error = takeFrame(frame, &taken); error != 0) return error;
  if (taken) return 0;
  if (broken_) return ERROR_DEVICE_NOT_CONNECTED;
  const DWORD error = fill(0);
  if (error == ERROR_SEM_TIMEOUT) return ERROR_NO_MORE_ITEMS;
  if (error != 0) return error;
  if (const DWORD parsed = takeFrame(frame, &taken); parsed != 0) return parsed;
  return taken ? 0 : ERROR_NO_MORE_ITEMS;
}

DWORD BusSocket::exchange(busproto::Type type, std::span<const uint8_t> body, busproto::Type expected,
                          busproto::Frame* reply, int timeoutMs) {
  if (const DWORD error = send(type, body, timeoutMs); error != 0) return error;
  if (const DWORD error = receive(reply, timeoutMs); error != 0) return error;
  if (reply->type != expected) {
    broken_ = true;
    return ERROR_INVALID_DATA;
  }
  return 0;
}

}  // namespace utils::linuxport
