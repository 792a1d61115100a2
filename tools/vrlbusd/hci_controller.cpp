#include "hci_controller.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vrlbusd {
namespace {

constexpr int kAnswerTimeoutMs = 2000;

// The filter's event mask has 64 bits: an event code counts by its low six
// bits (the vendor event 0xFF is bit 63).
void setEventBit(hci_filter& filter, unsigned event) {
  const unsigned bit = event & HCI_FLT_EVENT_BITS;
  filter.event_mask[bit / 32] |= 1u << (bit % 32);
}

}  // namespace

std::unique_ptr<HciController> HciController::open(int index, std::string* error) {
  const int fd = ::socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, BTPROTO_HCI);
  if (fd < 0) {
    *error = std::string("HCI socket: ") + std::strerror(errno);
    return nullptr;
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
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::setsockopt(fd, SOL_HCI, HCI_FILTER, &filter, sizeof filter) != 0) {
    *error = "hci" + std::to_string(index) + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<HciController>(new HciController(fd));
}

HciController::~HciController() { ::close(fd_); }

bool HciController::readEvent(Packet* event) {
  uint8_t packet[HCI_MAX_EVENT_SIZE + 1];
  const ssize_t n = ::read(fd_, packet, sizeof packet);
  // A packet: indicator, event code, parameter length, parameters.
  if (n < 3 || packet[0] != HCI_EVENT_PKT || packet[2] != n - 3) return n > 0 || (n < 0 && errno == EINTR);
  event->assign(packet + 1, packet + n);
  return true;
}

void HciController::readEvents() {
  Packet event;
  while (readEvent(&event)) {
    if (event.size() >= 2 && event[0] == EVT_VENDOR) events_.push_back(event);
    event.clear();
  }
}

uint32_t HciController::command(uint16_t opcode, std::span<const uint8_t> parameters, Packet* answer) {
  if (parameters.size() > 255) return kErrorInvalidParameter;
  std::vector<uint8_t> packet{HCI_COMMAND_PKT, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8),
                              static_cast<uint8_t>(parameters.size())};
  packet.insert(packet.end(), parameters.begin(), parameters.end());
  if (::write(fd_, packet.data(), packet.size()) != static_cast<ssize_t>(packet.size())) return kErrorGenFailure;

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return kErrorSemTimeout;
    pollfd waiting{fd_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(left)) <= 0) continue;
    Packet event;
    while (readEvent(&event)) {
      if (event.empty()) continue;
      if (event[0] == EVT_VENDOR) {
        events_.push_back(event);
      } else if (event[0] == EVT_CMD_COMPLETE && event.size() >= 5 && (event[3] | event[4] << 8) == opcode) {
        *answer = event;
        return 0;
      } else if (event[0] == EVT_CMD_STATUS && event.size() >= 6 && (event[4] | event[5] << 8) == opcode) {
        *answer = event;
        return 0;
      }
      event.clear();
    }
  }
}

std::vector<Packet> HciController::takeVendorEvents() {
  std::vector<Packet> taken;
  taken.swap(events_);
  return taken;
}

}  // namespace vrlbusd
