// What vrlbusd drives: a Bluetooth controller that runs HCI commands and raises
// events. A real one through a raw HCI socket, a stand-in behind a Unix socket
// that speaks H4, or the built-in emulator. Every controller is driven without
// blocking: a command is sent and its answer arrives later among the events,
// which the daemon's poll loop collects.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vrlbusd {

// Win32 error codes the daemon answers with.
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorNotReady = 21;

// An HCI event packet: event code, parameter length, parameters.
using Packet = std::vector<uint8_t>;

class Controller {
 public:
  virtual ~Controller() = default;

  // Sends one HCI command. 0 once it is on its way (its answer comes among
  // takeEvents), or a Win32 error: kErrorNotReady while the controller is away.
  virtual uint32_t send(uint16_t opcode, std::span<const uint8_t> parameters) = 0;

  // The event packets received since the last call, in order.
  virtual std::vector<Packet> takeEvents() = 0;

  // The descriptor the poll loop waits on (-1: none) and the poll events wanted.
  virtual int pollFd() const { return -1; }
  virtual short pollEvents() const { return 0; }
  // Reads and writes what the descriptor's poll result allows.
  virtual void service(short revents) { (void)revents; }

  // False while the controller is away (unplugged, hung up, not there yet).
  virtual bool ready() const { return true; }
  // Tries to open a controller that is away again; true when it is back.
  virtual bool reopen() { return true; }
  // What the controller is, for the log ("hci0", "emulator", ...).
  virtual std::string name() const = 0;
};

// Command Complete for opcode with the return parameters (status first).
Packet commandComplete(uint16_t opcode, std::span<const uint8_t> returnParameters);

}  // namespace vrlbusd
