// vrlbusd's socket server: one poll loop over the listening socket, the
// clients, the controller's event descriptor and the stop signals. Every client
// is read without blocking and held to the protocol's bounds; a client that
// breaks them, stalls mid-frame or stops reading is dropped with a log line and
// the others are served on.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bus_requests.h"
#include "controller.h"

namespace vrlbusd {

struct ServerSettings {
  std::string socketPath;
  unsigned socketMode = 0660;
  std::string group;  // empty: the daemon's own group
  bool verbose = false;
  size_t maxClients = 64;
  std::chrono::milliseconds frameTimeout{5000};  // for the rest of a begun frame
  size_t maxPendingOutput = 1 << 20;             // unread answers and events per client
};

class Server {
 public:
  Server(ServerSettings settings, Controller& controller, OpcodePolicy policy = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Creates the listening socket (refusing when another daemon answers there,
  // replacing a stale socket file). False with *error set on failure.
  bool listen(std::string* error);

  // Serves until SIGINT or SIGTERM. Returns the exit code.
  int run();

 private:
  struct Client {
    int fd = -1;
    Peer peer;
    std::vector<uint8_t> in, out;
    bool subscriber = false;
    std::chrono::steady_clock::time_point frameStarted{};
  };

  void acceptClients();
  // Reads and answers; false when the client is to be dropped.
  bool readFrom(Client& client);
  bool handleFrame(Client& client, const utils::busproto::Frame& frame);
  void logRequest(const Client& client, const utils::busproto::IoControlRequest& request);
  void queue(Client& client, utils::busproto::Type type, std::span<const uint8_t> body);
  bool flush(Client& client);
  void broadcastEvents();
  void drop(int fd, const std::string& why);
  int pollTimeoutMs() const;
  void dropStalled();

  ServerSettings settings_;
  Controller& controller_;
  BusRequests requests_;
  int listenFd_ = -1;
  int signalFd_ = -1;
  unsigned nextId_ = 1;
  std::map<int, Client> clients_;
};

}  // namespace vrlbusd
