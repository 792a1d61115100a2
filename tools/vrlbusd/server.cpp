#include "server.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log.h"

namespace vrlbusd {

namespace busproto = utils::busproto;

namespace {

// A client whose unsent answers reach this is not read until they are sent.
constexpr size_t kReadPauseOutput = 64 * 1024;

// Whether bytes wait unread in a client's socket. A client whose first request
// arrived in time is not idle because this loop came late to read it (a
// loaded machine can hold the daemon back past the timeout).
bool inputWaiting(int fd) {
  int waiting = 0;
  return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

}  // namespace

Server::Server(ServerSettings settings, Controller& controller, OpcodePolicy policy)
    : settings_(std::move(settings)),
      controller_(controller),
      requests_(std::move(policy)),
      channel_(controller, settings_.commandTimeouts) {}

Server::~Server() {
  for (auto& [fd, client] : clients_) ::close(fd);
  if (signalFd_ >= 0) ::close(signalFd_);
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(settings_.socketPath.c_str());
  }
}

// Room for a new client of user uid: a user holds at most its share of the
// places, and when the places are taken, the connection that has waited
// longest without asking anything makes way.
bool Server::makeRoomFor(uint32_t uid) {
  const auto oldestIdle = [this](bool sameUserOnly, uint32_t user) {
    const Client* oldest = nullptr;
    for (const auto& [fd, client] : clients_) {
      if (client.active || client.dropping || (sameUserOnly && client.peer.uid != user)) continue;
      if (oldest == nullptr || client.connected < oldest->connected) oldest = &client;
    }
    return oldest;
  };
  const auto mine = static_cast<size_t>(std::count_if(clients_.begin(), clients_.end(), [uid](const auto& entry) {
    return entry.second.peer.uid == uid && !entry.second.dropping;
  }));
  const auto live = static_cast<size_t>(
      std::count_if(clients_.begin(), clients_.end(), [](const auto& entry) { return !entry.second.dropping; }));
  const Client* evict = nullptr;
  if (mine >= settings_.maxClientsPerUser) {
    evict = oldestIdle(true, uid);
  } else if (live >= settings_.maxClients) {
    evict = oldestIdle(false, 0);
  } else {
    return true;
  }
  if (evict == nullptr) return false;
  markDrop(clients_.at(evict->fd), "idle, made way for a new client");
  return true;
}

void Server::acceptClients(Clock::time_point now) {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    Client client;
    client.fd = fd;
    client.peer.id = nextId_++;
    client.connected = now;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
      client.peer.uid = credentials.uid;
      client.peer.pid = credentials.pid;
    } else {
      client.peer.uid = static_cast<uint32_t>(-1);  // unknown: nobody in particular
    }
    if (!makeRoomFor(client.peer.uid)) {
      log(client.peer.describe() + ": too many clients, connection refused");
      ::close(fd);
      continue;
    }
    if (settings_.verbose) log(client.peer.describe() + ": connected");
    clientFds_[client.peer.id] = fd;
    clients_.emplace(fd, std::move(client));
  }
}

void Server::markDrop(Client& client, std::string why) {
  if (client.dropping) return;
  client.dropping = true;
  client.dropReason = std::move(why);
}

bool Server::mayProceed(const Client& client) const {
  return !client.awaiting && !client.dropping && client.pendingOutput() < kReadPauseOutput;
}

bool Server::hasWholeFrame(const Client& client) const {
  if (client.in.size() < 4) return false;
  const uint32_t length = busproto::getU32(client.in.data());
  return length == 0 || length > busproto::kMaxBody + 1 || client.in.size() - 4 >= length;
}

// The bound on pending output is checked here, before the frame is added.
void Server::queue(Client& client, busproto::Type type, std::span<const uint8_t> body) {
  if (client.dropping) return;
  if (client.pendingOutput() + busproto::kHeaderSize + body.size() > settings_.maxPendingOutput) {
    markDrop(client, "not reading its answers");
    return;
  }
  busproto::appendFrame(client.out, type, body);
}

void Server::flush(Client& client) {
  while (client.pendingOutput() > 0 && !client.dropping) {
    const ssize_t n =
        ::send(client.fd, client.out.data() + client.outSent, client.pendingOutput(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      client.outSent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    markDrop(client, settings_.verbose ? "gone" : "");
  }
  if (client.pendingOutput() == 0) {
    client.out.clear();
    client.outSent = 0;
  } else if (client.outSent > client.out.size() / 2) {
    client.out.erase(client.out.begin(), client.out.begin() + static_cast<std::ptrdiff_t>(client.outSent));
    client.outSent = 0;
  }
}

// Reads one chunk when the client may be read: not while a whole request
// waits in its buffer, its answers pile up, or the controller has its request.
void Server::readFrom(Client& client, Clock::time_point now) {
  uint8_t chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(client.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) {
      if (client.in.empty()) client.frameStarted = now;
      client.in.insert(client.in.end(), chunk, chunk + n);
      return;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n == 0 && !client.in.empty()) {
      markDrop(client, "disconnected mid-frame (" + std::to_string(client.in.size()) + " bytes)");
    } else {
      markDrop(client, settings_.verbose ? "disconnected" : "");
    }
    return;
  }
}

// Handles up to framesPerWake whole requests from the client's buffer.
void Server::handleFrames(Client& client, Clock::time_point now) {
  for (size_t handled = 0; handled < settings_.framesPerWake && mayProceed(client); ++handled) {
    busproto::Frame frame;
    size_t consumed = 0;
    const busproto::Parse parsed = busproto::parseFrame(client.in, &frame, &consumed);
    if (parsed == busproto::Parse::kInvalid) {
      markDrop(client, "frame length " + std::to_string(busproto::getU32(client.in.data())) + " out of bounds");
      return;
    }
    if (parsed == busproto::Parse::kNeedMore) return;
    client.in.erase(client.in.begin(), client.in.begin() + static_cast<std::ptrdiff_t>(consumed));
    client.frameStarted = now;
    client.active = true;
    if (!handleFrame(client, frame, now)) {
      markDrop(client, "protocol error");
      return;
    }
  }
}

void Server::broadcast(const Packet& event) {
  if (!busproto::isWellFormedHciEvent(event)) return;
  if (settings_.verbose) log("vendor event " + hex(event));
  for (auto& [fd, client] : clients_) {
    if (client.subscriber) queue(client, busproto::Type::kVendorEvent, event);
  }
}

void Server::pumpController(Clock::time_point now) {
  std::vector<CommandResult> done;
  std::vector<Packet> events;
  channel_.pump(now, &done, &events);
  for (const auto& result : done) deliver(result);
  for (const auto& event : events) broadcast(event);
  if (capture_ && !capture_->healthy()) {
    channel_.setRecorder(nullptr);
    capture_.reset();
  }
}

void Server::expire(Clock::time_point now) {
  for (auto& [fd, client] : clients_) {
    if (client.dropping) continue;
    if (!client.in.empty() && mayProceed(client) && !hasWholeFrame(client) &&
        now - client.frameStarted >= settings_.frameTimeout) {
      markDrop(client, "frame left incomplete");
    } else if (!client.active && client.in.empty() && now - client.connected >= settings_.idleTimeout &&
               !inputWaiting(fd)) {
      markDrop(client, "sent no request");
    }
  }
}

void Server::dropMarked() {
  std::vector<int> gone;
  for (auto& [fd, client] : clients_) {
    if (!client.dropping) continue;
    if (!client.dropReason.empty()) log(client.peer.describe() + ": " + client.dropReason + ", dropped");
    gone.push_back(fd);
  }
  if (gone.empty()) return;
  flushLog();  // logged before the client sees its connection end
  for (int fd : gone) {
    const auto it = clients_.find(fd);
    channel_.forget(it->second.peer.id);
    clientFds_.erase(it->second.peer.id);
    ::close(fd);
    clients_.erase(it);
  }
}

int Server::pollTimeoutMs(Clock::time_point now, Clock::time_point nextReopen) const {
  std::optional<Clock::time_point> next = channel_.nextDeadline();
  const auto consider = [&next](Clock::time_point at) {
    if (!next || at < *next) next = at;
  };
  if (!controller_.ready()) consider(nextReopen);
  for (const auto& [fd, client] : clients_) {
    if (client.dropping || (mayProceed(client) && hasWholeFrame(client))) return 0;
    if (!client.in.empty() && mayProceed(client)) consider(client.frameStarted + settings_.frameTimeout);
    if (!client.active) consider(client.connected + settings_.idleTimeout);
  }
  if (!next) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*next - now).count();
  return left < 0 ? 0 : static_cast<int>(std::min<long long>(left + 1, 60000));
}

int Server::run() {
  auto nextReopen = Clock::now();
  std::vector<pollfd> fds;
  for (;;) {
    const auto before = Clock::now();
    if (!controller_.ready() && before >= nextReopen) {
      controller_.reopen();
      nextReopen = before + settings_.reopenInterval;
    }
    pumpController(before);
    for (auto& [fd, client] : clients_) {
      if (mayProceed(client) && hasWholeFrame(client)) handleFrames(client, before);
    }
    pumpController(before);  // the commands those requests queued
    flushLog();              // what a client is told has happened is in the log first
    for (auto& [fd, client] : clients_) flush(client);
    expire(before);
    dropMarked();

    fds.clear();
    fds.push_back({signalFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({controller_.ready() ? controller_.pollFd() : -1, controller_.pollEvents(), 0});
    for (const auto& [fd, client] : clients_) {
      const bool reading = mayProceed(client) && !hasWholeFrame(client);
      fds.push_back({fd, static_cast<short>((reading ? POLLIN : 0) | (client.pendingOutput() > 0 ? POLLOUT : 0)), 0});
    }
    flushLog();
    const int ready = ::poll(fds.data(), fds.size(), pollTimeoutMs(before, nextReopen));
    if (ready < 0 && errno != EINTR) {
      log(std::string("poll: ") + std::strerror(errno));
      flushLog();
      return 1;
    }
    if (ready <= 0) continue;
    if (fds[0].revents & POLLIN) {
      log("stopping");
      flushLog();
      return 0;
    }
    const auto now = Clock::now();
    if (fds[2].revents != 0) controller_.service(fds[2].revents);
    for (size_t i = 3; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      Client& client = clients_.at(fds[i].fd);
      if (fds[i].revents & POLLOUT) flush(client);  // answers logged before they were queued
      if (fds[i].revents & POLLIN) {
        readFrom(client, now);
        handleFrames(client, now);
      } else if (fds[i].revents & (POLLHUP | POLLERR)) {
        markDrop(client, settings_.verbose ? "disconnected" : "");  // gone before reading its answers
      }
    }
    if (fds[1].revents & POLLIN) acceptClients(now);
  }
}

}  // namespace vrlbusd
