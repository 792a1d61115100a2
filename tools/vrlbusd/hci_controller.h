// A real controller through a raw HCI socket bound to hciN. Needs a kernel with
// Bluetooth and CAP_NET_RAW for vendor commands and vendor events.
#pragma once

#include <memory>
#include <string>

#include "controller.h"

namespace vrlbusd {

class HciController : public Controller {
 public:
  // Opens the raw socket of controller index. Nothing and *error set (an errno
  // text) when it cannot be opened.
  static std::unique_ptr<HciController> open(int index, std::string* error);
  ~HciController() override;
  HciController(const HciController&) = delete;
  HciController& operator=(const HciController&) = delete;

  uint32_t command(uint16_t opcode, std::span<const uint8_t> parameters, Packet* answer) override;
  std::vector<Packet> takeVendorEvents() override;
  int eventFd() const override { return fd_; }
  void readEvents() override;

 private:
  explicit HciController(int fd) : fd_(fd) {}
  // Reads one event packet without waiting; false when none is there.
  bool readEvent(Packet* event);

  int fd_ = -1;
  std::vector<Packet> events_;
};

}  // namespace vrlbusd
