#include "hci_controller.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log.h"

namespace vrlbusd {
namespace {

constexpr uint8_t kH4Command = 0x01;
constexpr uint8_t kH4Event = 0x04;
constexpr size_t kMaxPacket = 1 + 2 + 255;  // type, event code, length, parameters
constexpr size_t kMaxOutgoing = 256;        // commands waiting for room on the socket

// Errors after which the socket is of no more use: the controller went away.
bool isHangUp(int error) {
  return error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == ENODEV || error == ENXIO ||
         error == EBADFD;
}

}  // namespace

int openH4Socket(const std::string& path, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "socket path too long: " + path;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

HciController::~HciController() {
  if (fd_ >= 0) ::close(fd_);
}

bool HciController::reopen() {
  if (fd_ >= 0) return true;
  std::string error;
  const int fd = opener_(&error);
  if (fd < 0) {
    if (error != lastError_) log("controller " + name_ + " unavailable: " + error);
    lastError_ = error;
    return false;
  }
  if (!lastError_.empty()) log("controller " + name_ + " is back");
  lastError_.clear();
  fd_ = fd;
  return true;
}

void HciController::hangUp(const std::string& why) {
  log("controller " + name_ + " gone (" + why + "); clients get error 21 (not ready) until it is back");
  ::close(fd_);
  fd_ = -1;
  outgoing_.clear();
  lastError_ = why;
}

uint32_t HciController::send(uint16_t opcode, std::span<const uint8_t> parameters) {
  if (fd_ < 0) return kErrorNotReady;
  if (parameters.size() > 255) return kErrorInvalidParameter;
  std::vector<uint8_t> packet{kH4Command, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8),
                              static_cast<uint8_t>(parameters.size())};
  packet.insert(packet.end(), parameters.begin(), parameters.end());
  if (!outgoing_.empty()) {
    if (outgoing_.size() >= kMaxOutgoing) return kErrorGenFailure;
    outgoing_.push_back(std::move(packet));
    return 0;
  }
  for (;;) {
    const ssize_t n = ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(packet.size())) return 0;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      outgoing_.push_back(std::move(packet));
      return 0;
    }
    if (n < 0 && errno == ENETDOWN) return kErrorNotReady;  // the adapter is powered down
    if (n < 0 && (errno == EPERM || errno == EACCES)) {
      // The kernel lets only CAP_NET_RAW send vendor commands on a raw socket.
      log("controller " + name_ + " refused HCI command " + opcodeText(opcode) + ": " + std::strerror(errno));
      return kErrorAccessDenied;
    }
    if (n >= 0 || isHangUp(errno)) {
      hangUp(n < 0 ? std::strerror(errno) : "short write");
      return kErrorNotReady;
    }
    log("controller " + name_ + ": HCI command " + opcodeText(opcode) + " not sent: " + std::strerror(errno));
    return kErrorGenFailure;
  }
}

void HciController::writePending() {
  while (fd_ >= 0 && !outgoing_.empty()) {
    const auto& packet = outgoing_.front();
    const ssize_t n = ::send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(packet.size())) {
      outgoing_.pop_front();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n >= 0 || isHangUp(errno)) {
      hangUp(n < 0 ? std::strerror(errno) : "short write");
      return;
    }
    // Not sent: its command fails with a timeout, the others go on.
    log("controller " + name_ + ": HCI command not sent: " + std::strerror(errno));
    outgoing_.pop_front();
  }
}

short HciController::pollEvents() const { return static_cast<short>(POLLIN | (outgoing_.empty() ? 0 : POLLOUT)); }

void HciController::readPackets() {
  uint8_t packet[kMaxPacket + 1];
  while (fd_ >= 0) {
    const ssize_t n = ::recv(fd_, packet, sizeof packet, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      hangUp(n == 0 ? "hung up" : std::strerror(errno));
      return;
    }
    const auto size = static_cast<size_t>(n);
    // An event: type, event code, parameter length, exactly that many parameters.
    if (size >= 3 && size <= kMaxPacket && packet[0] == kH4Event && packet[2] == size - 3) {
      events_.emplace_back(packet + 1, packet + size);
    } else if (packet[0] == kH4Event || size > kMaxPacket) {
      // Other packet types (ACL and SCO data) are not ours; a malformed event is dropped.
      if (malformed_++ < 16)
        log("controller " + name_ + ": malformed event packet (" + hex({packet, std::min(size, kMaxPacket)}) +
            ") ignored");
    }
  }
}

void HciController::service(short revents) {
  if (fd_ < 0) return;
  if (revents & POLLOUT) writePending();
  if (revents & (POLLIN | POLLHUP | POLLERR)) readPackets();
  if (fd_ >= 0 && (revents & (POLLHUP | POLLERR))) {
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
    hangUp(error != 0 ? std::strerror(error) : "hung up");
  }
}

std::vector<Packet> HciController::takeEvents() {
  std::vector<Packet> taken;
  taken.swap(events_);
  return taken;
}

}  // namespace vrlbusd
