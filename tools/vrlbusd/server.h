// vrlbusd's socket server: one poll loop over the listening socket, the
// clients, the controller and the stop signals. Nothing in the loop blocks: a
// controller command is queued and its answer delivered when it comes, while
// other clients and events are served on. Every client is held to the
// protocol's bounds: a client that breaks them, stalls mid-frame, connects and
// never asks anything, or stops reading is dropped with a log line; a client
// whose answers pile up is not read until it reads them.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "btsnoop.h"
#include "bus_requests.h"
#include "command_channel.h"
#include "controller.h"

namespace vrlbusd {

struct ServerSettings {
  std::string socketPath;
  unsigned socketMode = 0660;
  std::string group;  // empty: the daemon's own group
  bool verbose = false;
  size_t maxClients = 64;
  size_t maxClientsPerUser = 32;                 // one user cannot take every place
  std::chrono::milliseconds frameTimeout{5000};  // for the rest of a begun frame
  std::chrono::milliseconds idleTimeout{10000};  // for a first request (or a subscription)
  size_t maxPendingOutput = 1 << 20;             // unread answers and events per client
  size_t framesPerWake = 16;                     // requests handled per client per turn
  CommandTimeouts commandTimeouts;
  std::chrono::milliseconds reopenInterval{1000};  // between attempts to reopen a gone controller
  std::string capturePath;                         // btsnoop recording from the start (empty: none)
};

class Server {
 public:
  Server(ServerSettings settings, Controller& controller, OpcodePolicy policy = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Creates the listening socket (refusing when another daemon answers there,
  // replacing a stale socket file, creating a missing folder) and starts the
  // recording asked for. False with *error set on failure.
  bool listen(std::string* error);

  // Serves until SIGINT or SIGTERM. Returns the exit code.
  int run();

 private:
  struct Client {
    int fd = -1;
    Peer peer;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    size_t outSent = 0;  // bytes of out already sent
    bool subscriber = false;
    bool active = false;     // has sent a request or subscribed
    bool awaiting = false;   // a request waits for the controller: answers stay in order
    bool dropping = false;   // dropped at the end of the turn
    std::string dropReason;  // its log line ("": none)
    Clock::time_point connected{};
    Clock::time_point frameStarted{};  // when the incomplete frame in `in` began
    size_t pendingOutput() const { return out.size() - outSent; }
  };

  void acceptClients(Clock::time_point now);
  // Marks the client to be dropped; why goes to the log unless empty.
  static void markDrop(Client& client, std::string why);
  bool makeRoomFor(uint32_t uid);
  // Whether the client's next request may be handled now.
  bool mayProceed(const Client& client) const;
  bool hasWholeFrame(const Client& client) const;
  void readFrom(Client& client, Clock::time_point now);
  void handleFrames(Client& client, Clock::time_point now);
  bool handleFrame(Client& client, const utils::busproto::Frame& frame, Clock::time_point now);
  void handleCapture(Client& client, const utils::busproto::Frame& frame);
  void logRequest(const Client& client, const utils::busproto::IoControlRequest& request);
  void queue(Client& client, utils::busproto::Type type, std::span<const uint8_t> body);
  void flush(Client& client);
  void pumpController(Clock::time_point now);
  void deliver(const CommandResult& result);
  void broadcast(const Packet& event);
  void expire(Clock::time_point now);
  void dropMarked();
  int pollTimeoutMs(Clock::time_point now, Clock::time_point nextReopen) const;
  bool startCapture(const std::string& path, std::string* error);

  ServerSettings settings_;
  Controller& controller_;
  BusRequests requests_;
  CommandChannel channel_;
  std::unique_ptr<BtsnoopFile> capture_;
  int listenFd_ = -1;
  int signalFd_ = -1;
  unsigned nextId_ = 1;
  std::map<int, Client> clients_;      // by descriptor
  std::map<unsigned, int> clientFds_;  // descriptor by client number
};

}  // namespace vrlbusd
