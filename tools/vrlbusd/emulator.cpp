#include "emulator.h"

namespace vrlbusd {
namespace {

// The signal values the emulator reports in turn (dBm): every level from 5
// down to 0 and back.
constexpr int8_t kSignals[] = {-45, -62, -74, -83, -95, -104, -88, -66};

constexpr uint8_t kStatusSuccess = 0x00;
constexpr uint8_t kStatusUnknownCommand = 0x01;
constexpr uint8_t kStatusInvalidParameters = 0x12;

}  // namespace

Packet commandComplete(uint16_t opcode, std::span<const uint8_t> returnParameters) {
  Packet event{0x0E, static_cast<uint8_t>(3 + returnParameters.size()), 1, static_cast<uint8_t>(opcode),
               static_cast<uint8_t>(opcode >> 8)};
  event.insert(event.end(), returnParameters.begin(), returnParameters.end());
  return event;
}

uint32_t Emulator::send(uint16_t opcode, std::span<const uint8_t> parameters) {
  if (opcode == kReadLocalVersion) {
    const uint8_t version[] = {kStatusSuccess,
                               0x0B,  // HCI version 5.2
                               0x00,
                               0x01,  // HCI revision
                               0x0B,  // LMP version
                               static_cast<uint8_t>(settings_.manufacturer),
                               static_cast<uint8_t>(settings_.manufacturer >> 8),
                               static_cast<uint8_t>(settings_.lmpSubversion),
                               static_cast<uint8_t>(settings_.lmpSubversion >> 8)};
    events_.push_back(commandComplete(opcode, version));
    return 0;
  }
  if (opcode != kSignalOpcode) {
    const uint8_t status[] = {kStatusUnknownCommand};
    events_.push_back(commandComplete(opcode, status));
    return 0;
  }
  // 0x01, then the device address (6 bytes, most significant first).
  if (parameters.size() < 7) {
    const uint8_t status[] = {kStatusInvalidParameters};
    events_.push_back(commandComplete(opcode, status));
    return 0;
  }
  const uint8_t status[] = {kStatusSuccess};
  events_.push_back(commandComplete(opcode, status));

  const int8_t signal = kSignals[nextSignal_++ % std::size(kSignals)];
  Packet event{0xFF, 9, kSignalSubEvent, kStatusSuccess};
  event.insert(event.end(), parameters.begin() + 1, parameters.begin() + 7);
  event.push_back(static_cast<uint8_t>(signal));
  events_.push_back(std::move(event));
  return 0;
}

std::vector<Packet> Emulator::takeEvents() {
  std::vector<Packet> taken;
  taken.swap(events_);
  return taken;
}

}  // namespace vrlbusd
