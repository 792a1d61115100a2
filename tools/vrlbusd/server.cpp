#include "server.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace vrlbusd {

namespace busproto = utils::busproto;
using Clock = std::chrono::steady_clock;

namespace {

void log(const std::string& line) { std::clog << "vrlbusd: " << line << std::endl; }

std::string hex(std::span<const uint8_t> bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text;
}

}  // namespace

Server::Server(ServerSettings settings, Controller& controller, OpcodePolicy policy)
    : settings_(std::move(settings)), controller_(controller), requests_(controller, std::move(policy)) {}

Server::~Server() {
  for (auto& [fd, client] : clients_) ::close(fd);
  if (signalFd_ >= 0) ::close(signalFd_);
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(settings_.socketPath.c_str());
  }
}

bool Server::listen(std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& path = settings_.socketPath;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "socket path too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = path + " exists and is not a socket";
      return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (answered) {
      *error = "another daemon listens on " + path;
      return false;
    }
    ::unlink(path.c_str());  // stale: left by a daemon that did not end cleanly
  }

  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const mode_t before = ::umask(0177);
  const bool bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(before);
  if (!bound || ::listen(listenFd_, 64) != 0) {
    *error = path + ": " + std::strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  if (!settings_.group.empty()) {
    const group* found = ::getgrnam(settings_.group.c_str());
    if (found == nullptr || ::chown(path.c_str(), static_cast<uid_t>(-1), found->gr_gid) != 0) {
      *error = "cannot give " + path + " to group " + settings_.group;
      return false;
    }
  }
  if (::chmod(path.c_str(), settings_.socketMode) != 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }

  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  signalFd_ = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
  ::signal(SIGPIPE, SIG_IGN);
  log("listening on " + path);
  return true;
}

void Server::drop(int fd, const std::string& why) {
  auto it = clients_.find(fd);
  if (it == clients_.end()) return;
  if (!why.empty()) log(it->second.peer.describe() + ": " + why + ", dropped");
  ::close(fd);
  clients_.erase(it);
}

void Server::acceptClients() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (clients_.size() >= settings_.maxClients) {
      log("too many clients, connection refused");
      ::close(fd);
      continue;
    }
    Client client;
    client.fd = fd;
    client.peer.id = nextId_++;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
      client.peer.uid = credentials.uid;
      client.peer.pid = credentials.pid;
    } else {
      client.peer.uid = static_cast<uint32_t>(-1);  // unknown: treated as nobody in particular
    }
    if (settings_.verbose) log(client.peer.describe() + ": connected");
    clients_.emplace(fd, std::move(client));
  }
}

void Server::queue(Client& client, busproto::Type type, std::span<const uint8_t> body) {
  busproto::appendFrame(client.out, type, body);
}

bool Server::flush(Client& client) {
  while (!client.out.empty()) {
    const ssize_t n = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (n > 0) {
      client.out.erase(client.out.begin(), client.out.begin() + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  return client.out.size() <= settings_.maxPendingOutput;
}

// Who sent what: one line per I/O control request, with the HCI opcode of a
// vendor command, and its bytes when verbose.
void Server::logRequest(const Client& client, const busproto::IoControlRequest& request) {
  char text[48];
  std::snprintf(text, sizeof text, ": ioctl 0x%08X", request.code);
  std::string line = client.peer.describe() + text;
  if (request.code == kIoctlVendorHciCommand && request.input.size() >= 9) {
    std::snprintf(text, sizeof text, " HCI 0x%04X", request.input[6] | request.input[7] << 8);
    line += text;
  }
  if (settings_.verbose) line += " in " + hex(request.input);
  log(line);
}

bool Server::handleFrame(Client& client, const busproto::Frame& frame) {
  const std::string who = client.peer.describe();
  if (client.subscriber) {
    log(who + ": a subscriber sent a request");
    return false;
  }
  // Every request's payload has the size of its type; anything else ends the
  // connection, since the stream can no longer be trusted.
  const auto malformed = [&](const char* what) {
    log(who + ": malformed " + what + " (" + std::to_string(frame.body.size()) + " bytes)");
    return false;
  };
  switch (frame.type) {
    case busproto::Type::kHello: {
      if (frame.body.size() != 4) return malformed("hello");
      std::vector<uint8_t> body;
      busproto::putU32(body, busproto::kVersion);
      queue(client, busproto::Type::kHelloReply, body);
      return true;
    }
    case busproto::Type::kIoControl: {
      const auto request = busproto::decodeIoControl(frame.body);
      if (!request) return malformed("I/O control request");
      logRequest(client, *request);
      const busproto::IoControlReply reply = requests_.handle(client.peer, *request);
      queue(client, busproto::Type::kIoControlReply, busproto::encodeIoControlReply(reply));
      return true;
    }
    case busproto::Type::kSubscribe:
      if (!frame.body.empty()) return malformed("subscribe request");
      client.subscriber = true;
      queue(client, busproto::Type::kSubscribed, {});
      if (settings_.verbose) log(who + ": subscribed to vendor events");
      return true;
    case busproto::Type::kControllerVersion:
      if (!frame.body.empty()) return malformed("controller version request");
      queue(client, busproto::Type::kVersionReply, requests_.encodeVersion());
      return true;
    case busproto::Type::kRecentRequests:
      if (!frame.body.empty()) return malformed("recent requests request");
      queue(client, busproto::Type::kRecentReply, requests_.encodeRecent(client.peer));
      return true;
    default: break;
  }
  log(who + ": unknown request type " + std::to_string(static_cast<int>(frame.type)));
  return false;
}

bool Server::readFrom(Client& client) {
  uint8_t chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      if (client.in.empty()) client.frameStarted = Clock::now();
      client.in.insert(client.in.end(), chunk, chunk + n);
      // Answer what is complete before reading more, so the buffer stays bounded.
      busproto::Frame frame;
      size_t consumed = 0;
      for (;;) {
        const busproto::Parse parsed = busproto::parseFrame(client.in, &frame, &consumed);
        if (parsed == busproto::Parse::kInvalid) {
          log(client.peer.describe() + ": frame length " + std::to_string(busproto::getU32(client.in.data())) +
              " out of bounds, dropped");
          return false;
        }
        if (parsed == busproto::Parse::kNeedMore) break;
        client.in.erase(client.in.begin(), client.in.begin() + static_cast<std::ptrdiff_t>(consumed));
        client.frameStarted = Clock::now();
        if (!handleFrame(client, frame)) {
          log(client.peer.describe() + ": protocol error, dropped");
          return false;
        }
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n == 0 && !client.in.empty()) {
      log(client.peer.describe() + ": disconnected mid-frame (" + std::to_string(client.in.size()) +
          " bytes), dropped");
    } else if (settings_.verbose) {
      log(client.peer.describe() + ": disconnected");
    }
    return false;
  }
}

void Server::broadcastEvents() {
  for (const Packet& event : controller_.takeVendorEvents()) {
    if (!busproto::isWellFormedHciEvent(event)) continue;
    if (settings_.verbose) log("vendor event " + hex(event));
    for (auto& [fd, client] : clients_) {
      if (client.subscriber) queue(client, busproto::Type::kVendorEvent, event);
    }
  }
}

int Server::pollTimeoutMs() const {
  int timeout = -1;
  const auto now = Clock::now();
  for (const auto& [fd, client] : clients_) {
    if (client.in.empty()) continue;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(client.frameStarted + settings_.frameTimeout - now)
            .count();
    const int ms = left < 0 ? 0 : static_cast<int>(left) + 1;
    if (timeout < 0 || ms < timeout) timeout = ms;
  }
  return timeout;
}

void Server::dropStalled() {
  const auto now = Clock::now();
  std::vector<int> stalled;
  for (const auto& [fd, client] : clients_) {
    if (!client.in.empty() && now - client.frameStarted >= settings_.frameTimeout) stalled.push_back(fd);
  }
  for (int fd : stalled) drop(fd, "frame left incomplete");
}

int Server::run() {
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({signalFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({controller_.eventFd(), POLLIN, 0});
    for (const auto& [fd, client] : clients_) {
      fds.push_back({fd, static_cast<short>(POLLIN | (client.out.empty() ? 0 : POLLOUT)), 0});
    }
    const int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs());
    if (ready < 0 && errno != EINTR) {
      log(std::string("poll: ") + std::strerror(errno));
      return 1;
    }
    if (fds[0].revents & POLLIN) {
      log("stopping");
      return 0;
    }
    if (fds[2].revents & POLLIN) controller_.readEvents();
    for (size_t i = 3; i < fds.size(); ++i) {
      auto it = clients_.find(fds[i].fd);
      if (it == clients_.end() || fds[i].revents == 0) continue;
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && !readFrom(it->second)) {
        drop(fds[i].fd, "");
        continue;
      }
    }
    if (fds[1].revents & POLLIN) acceptClients();
    broadcastEvents();
    std::vector<int> slow;
    for (auto& [fd, client] : clients_) {
      if (!flush(client)) slow.push_back(fd);
    }
    for (int fd : slow) drop(fd, "not reading its answers");
    dropStalled();
  }
}

}  // namespace vrlbusd
