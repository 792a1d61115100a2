// A stand-in Bluetooth controller for vrlbusd --h4-socket: listens on a Unix
// seqpacket socket, takes the daemon's H4 command packets and answers each by
// the rule set for its opcode. It runs on a thread of its own; the test thread
// hands it work and waits until it is done, so nothing depends on timing.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "radio_test_env.h"

namespace utils::test {

using Bytes = std::vector<uint8_t>;

class H4StandIn {
 public:
  enum class Answer {
    kComplete,  // Command Complete with the status (and the rule's return bytes)
    kStatus,    // Command Status with the status
    kHold,      // nothing until release()
    kSilent,    // never anything
  };
  struct Rule {
    Answer answer = Answer::kComplete;
    uint8_t status = 0;
    Bytes returnBytes;          // after the status, for Command Complete
    std::vector<Bytes> before;  // raw packets sent before the answer (any bytes)
    std::vector<Bytes> after;   // raw packets sent after the answer
  };

  // An H4 event packet: type 0x04, the event code, the length and parameters.
  static Bytes event(uint8_t code, const Bytes& parameters) {
    // Built element by element: GCC 12 at -O2 misreads an insert after a
    // three-byte initializer list as an overrun (-Warray-bounds).
    Bytes packet;
    packet.reserve(3 + parameters.size());
    packet.push_back(0x04);
    packet.push_back(code);
    packet.push_back(static_cast<uint8_t>(parameters.size()));
    for (const uint8_t byte : parameters) packet.push_back(byte);
    return packet;
  }

  // Listens at path. Without a rule, an opcode is answered with Command
  // Complete status 1 (unknown HCI command).
  explicit H4StandIn(std::string path) : path_(std::move(path)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    listenNow();
    thread_ = std::thread([this] { run(); });
  }
  ~H4StandIn() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake();
    thread_.join();
    closeAll();
    ::close(wakeFd_);
  }
  H4StandIn(const H4StandIn&) = delete;
  H4StandIn& operator=(const H4StandIn&) = delete;

  void setRule(uint16_t opcode, Rule rule) {
    std::lock_guard lock(mutex_);
    rules_[opcode] = std::move(rule);
  }
  // Sends one datagram to the daemon as it stands (an event, or garbage).
  void sendRaw(const Bytes& packet) {
    runOnThread([this, packet] { sendNow(packet); });
  }
  // Answers the held commands with Command Complete status 0.
  void release() {
    runOnThread([this] {
      std::vector<uint16_t> held;
      {
        std::lock_guard lock(mutex_);
        held.swap(held_);
      }
      for (uint16_t opcode : held)
        sendNow(event(0x0E, {1, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8), 0}));
    });
  }
  // Unplugged: the connection and the listening socket closed, the path gone.
  void unplug() {
    runOnThread([this] { closeAll(); });
  }
  // Plugged in again: listening at the path.
  void plugIn() {
    runOnThread([this] { listenNow(); });
  }

  // The command packets received, without the H4 type: opcode (2), length,
  // parameters; how often the daemon connected.
  std::vector<Bytes> commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  unsigned connections() {
    std::lock_guard lock(mutex_);
    return connections_;
  }
  bool waitForCommands(size_t count, int timeoutMs) {
    return waitUntil([&] { return commands().size() >= count; }, timeoutMs);
  }

  const std::string& path() const { return path_; }

 private:
  void wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }
  // Runs work on the stand-in's thread and waits until it is done (the test
  // thread is the only caller: one job at a time).
  void runOnThread(std::function<void()> work) {
    std::unique_lock lock(mutex_);
    work_ = std::move(work);
    wake();
    changed_.wait(lock, [&] { return !work_; });
  }
  void listenNow() {
    const sockaddr_un address = unixAddress(path_);
    listenFd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::unlink(path_.c_str());
    if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 4) != 0) {
      ::close(listenFd_);
      listenFd_ = -1;
    }
  }
  void closeAll() {
    if (connectionFd_ >= 0) ::close(connectionFd_);
    if (listenFd_ >= 0) ::close(listenFd_);
    connectionFd_ = listenFd_ = -1;
    ::unlink(path_.c_str());
  }
  void sendNow(const Bytes& packet) {
    // The daemon reads at its own pace: a full socket is waited for (within a
    // generous bound), so that no packet is lost on a loaded machine.
    while (connectionFd_ >= 0) {
      if (::send(connectionFd_, packet.data(), packet.size(), MSG_NOSIGNAL) >= 0) return;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return;
      pollfd writable{connectionFd_, POLLOUT, 0};
      if (::poll(&writable, 1, 30000) <= 0) return;
    }
  }
  void answer(const Bytes& command) {
    const auto opcode = static_cast<uint16_t>(command[0] | command[1] << 8);
    Rule rule;
    {
      std::lock_guard lock(mutex_);
      const auto found = rules_.find(opcode);
      if (found != rules_.end()) {
        rule = found->second;
      } else {
        rule.status = 0x01;
      }
    }
    for (const auto& packet : rule.before) sendNow(packet);
    switch (rule.answer) {
      case Answer::kComplete: {
        Bytes parameters{1, command[0], command[1], rule.status};
        parameters.insert(parameters.end(), rule.returnBytes.begin(), rule.returnBytes.end());
        sendNow(event(0x0E, parameters));
        break;
      }
      case Answer::kStatus: sendNow(event(0x0F, {rule.status, 1, command[0], command[1]})); break;
      case Answer::kHold: {
        std::lock_guard lock(mutex_);
        held_.push_back(opcode);
        break;
      }
      case Answer::kSilent: break;
    }
    for (const auto& packet : rule.after) sendNow(packet);
  }
  void run() {
    for (;;) {
      pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}, {connectionFd_, POLLIN, 0}};
      ::poll(fds, 3, 1000);
      if (fds[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &count, sizeof count);
        std::function<void()> work;
        {
          std::lock_guard lock(mutex_);
          if (stop_) return;
          work = work_;
        }
        if (work) {
          work();
          std::lock_guard lock(mutex_);
          work_ = nullptr;
        }
        changed_.notify_all();
        continue;  // the descriptors may have changed
      }
      if (listenFd_ >= 0 && (fds[1].revents & POLLIN)) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
          if (connectionFd_ >= 0) ::close(connectionFd_);
          connectionFd_ = fd;
          std::lock_guard lock(mutex_);
          ++connections_;
        }
      }
      if (connectionFd_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP))) {
        uint8_t packet[512];
        const ssize_t n = ::recv(connectionFd_, packet, sizeof packet, 0);
        if (n <= 0) {
          ::close(connectionFd_);
          connectionFd_ = -1;
        } else if (n >= 4 && packet[0] == 0x01) {
          const Bytes command(packet + 1, packet + n);
          {
            std::lock_guard lock(mutex_);
            commands_.push_back(command);
          }
          answer(command);
        }
      }
    }
  }

  std::string path_;
  int listenFd_ = -1;
  int connectionFd_ = -1;
  int wakeFd_ = -1;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> work_;  // set by runOnThread, cleared when done
  std::map<uint16_t, Rule> rules_;
  std::vector<Bytes> commands_;
  std::vector<uint16_t> held_;
  unsigned connections_ = 0;
  std::thread thread_;
};

}  // namespace utils::test
