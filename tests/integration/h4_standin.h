// A stand-in Bluetooth controller for vrlbusd --h4-socket: listens on a Unix
// seqpacket socket, takes the daemon's H4 command packets and answers each by
// the rule set for its opcode. It runs on a thread of its own; the test thread
// hands it work and waits until it is done, so nothing depends on timing.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
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

  // Listens at path. Without a rule, an opcode is answered with Command
  // Complete status 1 (unknown HCI command).
  explicit H4StandIn(std::string path);
  ~H4StandIn();
  H4StandIn(const H4StandIn&) = delete;
  H4StandIn& operator=(const H4StandIn&) = delete;

  // An H4 event packet: type 0x04, the event code, the length and parameters.
  static Bytes event(uint8_t code, const Bytes& parameters);

  void setRule(uint16_t opcode, Rule rule);
  // Sends one datagram to the daemon as it stands (an event, or garbage).
  void sendRaw(const Bytes& packet);
  // Answers the held commands with Command Complete status 0.
  void release();
  // Unplugged: the connection and the listening socket closed, the path gone.
  void unplug();
  // Plugged in again: listening at the path.
  void plugIn();

  // The command packets received, without the H4 type: opcode (2), length,
  // parameters; how often the daemon connected.
  std::vector<Bytes> commands();
  unsigned connections();
  bool waitForCommands(size_t count, int timeoutMs) {
    return waitUntil([&] { return commands().size() >= count; }, timeoutMs);
  }

  const std::string& path() const { return path_; }

 private:
  void run();
  void runOnThread(std::function<void()> work);
  void listenNow();
  void closeAll();
  void answer(const Bytes& command);
  void sendNow(const Bytes& packet);

  std::string path_;
  int listenFd_ = -1;
  int connectionFd_ = -1;
  int wakeFd_ = -1;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> work_;
  size_t workDone_ = 0, workPosted_ = 0;
  std::map<uint16_t, Rule> rules_;
  std::vector<Bytes> commands_;
  std::vector<uint16_t> held_;
  unsigned connections_ = 0;
  std::thread thread_;
};

}  // namespace utils::test
