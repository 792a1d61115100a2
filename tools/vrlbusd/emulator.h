// The built-in controller emulator: answers the signal-strength command with
// Command Complete and then a signal vendor event whose value it varies, answers
// Read Local Version Information, and answers every other opcode with Command
// Complete status 1 (unknown HCI command).
#pragma once

#include <cstddef>

#include "controller.h"

namespace vrlbusd {

struct EmulatorSettings {
  uint16_t manufacturer = 0x05F1;
  uint16_t lmpSubversion = 0x0100;
};

class Emulator : public Controller {
 public:
  explicit Emulator(EmulatorSettings settings) : settings_(settings) {}

  // Answers at once: the answer and any vendor event are there for takeEvents.
  uint32_t send(uint16_t opcode, std::span<const uint8_t> parameters) override;
  std::vector<Packet> takeEvents() override;
  std::string name() const override { return "emulator"; }

  static constexpr uint16_t kSignalOpcode = 0xFC59;
  static constexpr uint16_t kReadLocalVersion = 0x1001;
  static constexpr uint8_t kSignalSubEvent = 0x8E;

 private:
  EmulatorSettings settings_;
  size_t nextSignal_ = 0;
  std::vector<Packet> events_;
};

}  // namespace vrlbusd
