#include "port/linux/pinentry_session.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "port/linux/assuan_text.h"

extern char** environ;

namespace utils::linuxport {
namespace {

// Assuan lines are at most 1000 bytes; the buffer holds a few of them.
constexpr size_t kBufferSize = 8192;
constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxPin = 2048;

long long nowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int remainingMs(long long deadline) {
  const long long left = deadline - nowMs();
  return left <= 0 ? 0 : static_cast<int>(left);
}

bool startsWith(const char* text, size_t size, std::string_view word) {
  if (size < word.size() || std::string_view(text, word.size()) != word) return false;
  return size == word.size() || text[word.size()] == ' ';
}

}  // namespace

PinentrySession::PinentrySession(PinentryOptions options) : options_(std::move(options)), buffer_(kBufferSize) {
  if (buffer_.empty() || !start()) return;
  const char* text = nullptr;
  size_t size = 0;
  const long long deadline = nowMs() + options_.setupTimeoutMs;
  for (;;) {
    const Line line = readLine(deadline, &text, &size);
    dropLine();
    if (line == Line::kOther) continue;  // comments and status lines
    ready_ = line == Line::kOk;
    return;
  }
}

PinentrySession::~PinentrySession() { finish(); }

bool PinentrySession::start() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
  socket_ = pair[0];

  std::vector<std::string> arguments{options_.program};
  // A terminal pinentry draws on our terminal, when there is one.
  char terminal[256];
  if (isatty(STDIN_FILENO) && ttyname_r(STDIN_FILENO, terminal, sizeof terminal) == 0) {
    arguments.insert(arguments.end(), {"--ttyname", terminal});
    if (const char* type = std::getenv("TERM"); type != nullptr && type[0] != '\0') {
      arguments.insert(arguments.end(), {"--ttytype", type});
    }
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, pair[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pair[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // The program starts with default signal handling and nothing blocked.
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t child = -1;
  const int error = posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(pair[1]);
  if (error != 0) return false;
  child_ = child;
  return true;
}

bool PinentrySession::sendLine(std::string_view line, long long deadline) {
  std::string framed(line);
  framed.push_back('\n');
  size_t sent = 0;
  while (sent < framed.size()) {
    pollfd ready{socket_, POLLOUT, 0};
    const int polled = poll(&ready, 1, remainingMs(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0 || (ready.revents & (POLLERR | POLLHUP)) != 0) return false;
    const ssize_t n = send(socket_, framed.data() + sent, framed.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

PinentrySession::Line PinentrySession::readLine(long long deadline, const char** text, size_t* size) {
  if (socket_ < 0) return Line::kFailed;
  char* data = buffer_.data();
  for (;;) {
    if (void* end = memchr(data, '\n', buffered_); end != nullptr) {
      lineLength_ = static_cast<size_t>(static_cast<char*>(end) - data) + 1;
      break;
    }
    if (buffered_ >= kMaxLine) return Line::kFailed;
    pollfd ready{socket_, POLLIN, 0};
    const int polled = poll(&ready, 1, remainingMs(deadline));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return Line::kFailed;
    const ssize_t n = recv(socket_, data + buffered_, kBufferSize - buffered_, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Line::kFailed;
    buffered_ += static_cast<size_t>(n);
  }
  const size_t length = lineLength_ - 1;
  if (startsWith(data, length, "OK")) return Line::kOk;
  if (startsWith(data, length, "ERR")) {
    lastError_ = std::strtoul(std::string(data + 3, length > 3 ? length - 3 : 0).c_str(), nullptr, 10);
    return Line::kError;
  }
  if (startsWith(data, length, "D")) {
    *text = length > 2 ? data + 2 : data + length;
    *size = length > 2 ? length - 2 : 0;
    return Line::kData;
  }
  if (startsWith(data, length, "S") || startsWith(data, length, "#") || (length > 0 && data[0] == '#')) {
    return Line::kOther;
  }
  // INQUIRE and anything else: this client has nothing to say to them.
  return Line::kFailed;
}

void PinentrySession::dropLine() {
  char* data = buffer_.data();
  if (lineLength_ == 0 || lineLength_ > buffered_) return;
  memmove(data, data + lineLength_, buffered_ - lineLength_);
  buffered_ -= lineLength_;
  explicit_bzero(data + buffered_, lineLength_);
  lineLength_ = 0;
}

PinentryAnswer PinentrySession::command(std::string_view line, int timeoutMs) {
  if (!ready_) return PinentryAnswer::kFailed;
  const long long deadline = nowMs() + timeoutMs;
  if (!sendLine(line, deadline)) return PinentryAnswer::kFailed;
  for (;;) {
    const char* text = nullptr;
    size_t size = 0;
    const Line answer = readLine(deadline, &text, &size);
    dropLine();
    switch (answer) {
      case Line::kOk: return PinentryAnswer::kOk;
      case Line::kError: return PinentryAnswer::kError;
      case Line::kData:
      case Line::kOther: continue;
      case Line::kFailed: ready_ = false; return PinentryAnswer::kFailed;
    }
  }
}

PinentryAnswer PinentrySession::getPin(SecretBuffer& pin, size_t* length) {
  *length = 0;
  if (!ready_) return PinentryAnswer::kFailed;
  pin = SecretBuffer(kMaxPin);
  if (pin.empty()) return PinentryAnswer::kFailed;
  const long long deadline = nowMs() + options_.userTimeoutMs;
  if (!sendLine("GETPIN", deadline)) return PinentryAnswer::kFailed;
  bool broken = false;
  for (;;) {
    const char* text = nullptr;
    size_t size = 0;
    const Line answer = readLine(deadline, &text, &size);
    if (answer == Line::kData && !broken) {
      const auto decoded = assuanUnescape(text, size, pin.data() + *length, pin.size() - *length);
      if (decoded) {
        *length += *decoded;
      } else {
        broken = true;
      }
    }
    dropLine();
    switch (answer) {
      case Line::kOk:
        if (!broken) return PinentryAnswer::kOk;
        explicit_bzero(pin.data(), pin.size());
        *length = 0;
        return PinentryAnswer::kMalformed;
      case Line::kError:
        explicit_bzero(pin.data(), pin.size());
        *length = 0;
        return PinentryAnswer::kError;
      case Line::kData:
      case Line::kOther: continue;
      case Line::kFailed:
        explicit_bzero(pin.data(), pin.size());
        *length = 0;
        ready_ = false;
        return PinentryAnswer::kFailed;
    }
  }
}

void PinentrySession::finish() {
  if (socket_ >= 0) {
    if (ready_) {
      // A polite goodbye; whatever it answers, the socket closes next.
      const long long deadline = nowMs() + 200;
      sendLine("BYE", deadline);
    }
    close(socket_);
    socket_ = -1;
  }
  if (child_ > 0) {
    // Closing the socket ends a well-behaved program; one that stays is killed.
    const long long deadline = nowMs() + options_.exitTimeoutMs;
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = waitpid(child_, &status, WNOHANG)) == 0 && nowMs() < deadline) {
      const timespec pause{0, 10 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
    if (reaped == 0) {
      kill(child_, SIGKILL);
      while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    child_ = -1;
  }
  ready_ = false;
}

}  // namespace utils::linuxport
