#include "hci_devices.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace vrlbusd {
namespace {

constexpr int kMaxControllers = 16;

// The filter's event mask has 64 bits: an event code counts by its low six
// bits (the vendor event 0xFF is bit 63).
void setEventBit(hci_filter& filter, unsigned event) {
  const unsigned bit = event & HCI_FLT_EVENT_BITS;
  filter.event_mask[bit / 32] |= 1u << (bit % 32);
}

// Closes a descriptor when it goes out of scope unless released.
struct FdGuard {
  int fd;
  ~FdGuard() {
    if (fd >= 0) ::close(fd);
  }
  int release() { return std::exchange(fd, -1); }
};

}  // namespace

bool listControllers(std::vector<ControllerInfo>* controllers, std::string* error) {
  FdGuard socket{::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, BTPROTO_HCI)};
  if (socket.fd < 0) {
    *error = std::string("HCI socket: ") + std::strerror(errno);
    return false;
  }
  const size_t size = sizeof(hci_dev_list_req) + kMaxControllers * sizeof(hci_dev_req);
  auto storage = std::make_unique<uint8_t[]>(size);
  auto* list = reinterpret_cast<hci_dev_list_req*>(storage.get());
  list->dev_num = kMaxControllers;
  if (::ioctl(socket.fd, HCIGETDEVLIST, list) != 0) {
    *error = std::string("controller list: ") + std::strerror(errno);
    return false;
  }
  controllers->clear();
  for (int i = 0; i < list->dev_num && i < kMaxControllers; ++i) {
    hci_dev_info info{};
    info.dev_id = list->dev_req[i].dev_id;
    if (::ioctl(socket.fd, HCIGETDEVINFO, &info) != 0) continue;  // gone meanwhile
    ControllerInfo controller;
    controller.index = info.dev_id;
    for (int byte = 5; byte >= 0; --byte) controller.address = controller.address << 8 | info.bdaddr.b[byte];
    controller.primary = ((info.type & 0x30) >> 4) == HCI_PRIMARY;
    controller.raw = (info.flags & (1u << HCI_RAW)) != 0;
    controllers->push_back(controller);
  }
  return true;
}

int openRawHci(const ControllerChoice& choice, std::string* error) {
  int index = choice.index;
  if (choice.kind != ControllerChoice::Kind::kIndex) {
    std::vector<ControllerInfo> controllers;
    if (!listControllers(&controllers, error)) return -1;
    const auto chosen = chooseController(controllers, choice);
    if (!chosen) {
      *error = "no " + choice.describe() + " among " + std::to_string(controllers.size()) + " controllers";
      return -1;
    }
    index = *chosen;
  }
  FdGuard socket{::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, BTPROTO_HCI)};
  if (socket.fd < 0) {
    *error = std::string("HCI socket: ") + std::strerror(errno);
    return -1;
  }
  sockaddr_hci address{};
  address.hci_family = AF_BLUETOOTH;
  address.hci_dev = static_cast<unsigned short>(index);
  address.hci_channel = HCI_CHANNEL_RAW;
  hci_filter filter{};
  filter.type_mask = 1u << HCI_EVENT_PKT;
  setEventBit(filter, EVT_CMD_COMPLETE);
  setEventBit(filter, EVT_CMD_STATUS);
  setEventBit(filter, EVT_VENDOR);
  if (::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::setsockopt(socket.fd, SOL_HCI, HCI_FILTER, &filter, sizeof filter) != 0) {
    *error = "hci" + std::to_string(index) + ": " + std::strerror(errno);
    return -1;
  }
  return socket.release();
}

}  // namespace vrlbusd
