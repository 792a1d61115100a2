// The bus driver's I/O control requests, answered with the controller: the
// vendor HCI command and the paired-device count. Remembers the latest requests
// so that clients (tests, tools) can read back exactly what arrived.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "controller.h"
#include "port/linux/bus_protocol.h"

namespace vrlbusd {

class BusRequests {
 public:
  explicit BusRequests(Controller& controller) : controller_(controller) {}

  // Answers one request. The answer's output never exceeds the request's output size.
  utils::busproto::IoControlReply handle(const utils::busproto::IoControlRequest& request);

  // The latest requests (at most kRememberedRequests, and only as many of the
  // newest as fit in one frame), oldest first, for a kRecentReply frame.
  std::vector<uint8_t> encodeRecent() const;

  // The controller's Read Local Version Information for a kVersionReply frame.
  std::vector<uint8_t> encodeVersion();

  // The latest paired-device count, once one arrived.
  std::optional<uint32_t> pairedDeviceCount() const { return pairedCount_; }

 private:
  utils::busproto::IoControlReply vendorCommand(const utils::busproto::IoControlRequest& request);
  utils::busproto::IoControlReply pairedCount(const utils::busproto::IoControlRequest& request);

  Controller& controller_;
  std::deque<utils::busproto::IoControlRequest> recent_;
  std::optional<uint32_t> pairedCount_;
};

inline constexpr uint32_t kIoctlVendorHciCommand = 0x9C4024C8;
inline constexpr uint32_t kIoctlPairedDeviceCount = 0x9C402644;

}  // namespace vrlbusd
