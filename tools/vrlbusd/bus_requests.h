// The bus driver's I/O control requests, answered with the controller: the
// vendor HCI command and the paired-device count. Remembers each user's latest
// requests so that clients (tests, tools) can read back exactly what arrived.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "command_channel.h"
#include "port/linux/bus_protocol.h"

namespace vrlbusd {

// Who is on the other end of a connection, from the socket's peer credentials.
struct Peer {
  unsigned id = 0;  // the connection's number in the daemon's log
  uint32_t uid = 0;
  int32_t pid = 0;
  // "client 3 (uid 1000, pid 4242)"
  std::string describe() const;
};

// Which HCI opcodes clients may send: the vendor-specific group (OGF 0x3F) and
// the opcodes an administrator allowed on top.
class OpcodePolicy {
 public:
  void allow(uint16_t opcode) { allowed_.insert(opcode); }
  bool permits(uint16_t opcode) const { return (opcode >> 10) == 0x3F || allowed_.count(opcode) != 0; }
  const std::set<uint16_t>& extra() const { return allowed_; }

 private:
  std::set<uint16_t> allowed_;
};

// What becomes of a request: an answer at once, or a command for the
// controller whose result answer() turns into the reply.
struct Outcome {
  std::optional<utils::busproto::IoControlReply> reply;
  std::optional<CommandRequest> command;
};

class BusRequests {
 public:
  explicit BusRequests(OpcodePolicy policy) : policy_(std::move(policy)) {}

  Outcome handle(const Peer& peer, const utils::busproto::IoControlRequest& request);

  // The reply to a vendor command once the controller is done with it. The
  // output never exceeds the request's output size.
  static utils::busproto::IoControlReply answer(const CommandResult& result);

  // The latest requests of the asking peer's user (of every user for root): at
  // most kRememberedRequests, only as many of the newest as fit in one frame,
  // oldest first, for a kRecentReply frame.
  std::vector<uint8_t> encodeRecent(const Peer& peer) const;

  // The command behind a controller version request, and its answer as the
  // body of a kVersionReply frame.
  static CommandRequest versionCommand(const Peer& peer);
  static std::vector<uint8_t> encodeVersion(const CommandResult& result);

  // The latest paired-device count, once one arrived.
  std::optional<uint32_t> pairedDeviceCount() const { return pairedCount_; }

 private:
  struct Remembered {
    uint64_t sequence = 0;  // arrival order across users
    utils::busproto::IoControlRequest request;
  };

  void remember(uint32_t uid, const utils::busproto::IoControlRequest& request);
  Outcome vendorCommand(const Peer& peer, const utils::busproto::IoControlRequest& request);
  utils::busproto::IoControlReply pairedCount(const Peer& peer, const utils::busproto::IoControlRequest& request);

  OpcodePolicy policy_;
  std::map<uint32_t, std::deque<Remembered>> recent_;  // per user id
  uint64_t nextSequence_ = 0;
  std::optional<uint32_t> pairedCount_;
};

inline constexpr uint32_t kIoctlVendorHciCommand = 0x9C4024C8;
inline constexpr uint32_t kIoctlPairedDeviceCount = 0x9C402644;
// What a command was for (CommandRequest::purpose).
inline constexpr uint32_t kPurposeVendorCommand = 1;
inline constexpr uint32_t kPurposeVersion = 2;
inline constexpr uint16_t kReadLocalVersion = 0x1001;
// Users whose requests are remembered at once; the least recently active is
// forgotten first.
inline constexpr size_t kRememberedUsers = 64;

}  // namespace vrlbusd
