// What vrlbusd drives: a Bluetooth controller that runs HCI commands and raises
// vendor events. A real one through a raw HCI socket, or the built-in emulator.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vrlbusd {

// Win32 error codes the daemon answers with.
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSemTimeout = 121;
inline constexpr uint32_t kErrorNotReady = 21;

using Packet = std::vector<uint8_t>;

class Controller {
 public:
  virtual ~Controller() = default;

  // Runs one HCI command and gives its answer, the Command Complete (0x0E) or
  // Command Status (0x0F) event packet (event code, length, parameters).
  // Returns 0, or a Win32 error when the controller could not be asked.
  virtual uint32_t command(uint16_t opcode, std::span<const uint8_t> parameters, Packet* answer) = 0;

  // Vendor event packets (0xFF, length, parameters) raised since the last call.
  virtual std::vector<Packet> takeVendorEvents() = 0;

  // A descriptor that becomes readable when the controller raises events on its
  // own (-1: none), and the call that collects them.
  virtual int eventFd() const { return -1; }
  virtual void readEvents() {}
};

// Command Complete for opcode with the return parameters (status first).
Packet commandComplete(uint16_t opcode, std::span<const uint8_t> returnParameters);

}  // namespace vrlbusd
