// A controller behind a packet socket that speaks H4: each datagram one packet,
// its first byte the packet type (0x01 command, 0x04 event). A raw HCI socket
// bound to hciN is one; a Unix seqpacket socket to a stand-in controller is
// another. The socket is non-blocking and driven by the daemon's poll loop. When
// it fails or hangs up (the controller was unplugged), the controller is away
// until reopen() succeeds with a fresh socket from the opener.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "controller.h"

namespace vrlbusd {

// Opens the packet socket, non-blocking: a descriptor, or -1 and *error set.
using PacketSocketOpener = std::function<int(std::string* error)>;

class HciController : public Controller {
 public:
  HciController(std::string name, PacketSocketOpener opener) : name_(std::move(name)), opener_(std::move(opener)) {}
  ~HciController() override;
  HciController(const HciController&) = delete;
  HciController& operator=(const HciController&) = delete;

  uint32_t send(uint16_t opcode, std::span<const uint8_t> parameters) override;
  std::vector<Packet> takeEvents() override;
  int pollFd() const override { return fd_; }
  short pollEvents() const override;
  void service(short revents) override;
  bool ready() const override { return fd_ >= 0; }
  bool reopen() override;
  std::string name() const override { return name_; }

  // The last reason the socket could not be opened.
  const std::string& lastError() const { return lastError_; }

 private:
  void hangUp(const std::string& why);
  void readPackets();
  void writePending();

  std::string name_;
  PacketSocketOpener opener_;
  int fd_ = -1;
  std::deque<std::vector<uint8_t>> outgoing_;  // command packets the socket had no room for
  std::vector<Packet> events_;
  std::string lastError_;
  unsigned malformed_ = 0;
};

// A stand-in controller's Unix seqpacket socket at path.
int openH4Socket(const std::string& path, std::string* error);

}  // namespace vrlbusd
