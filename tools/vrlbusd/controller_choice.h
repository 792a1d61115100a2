// Which of the machine's controllers the daemon drives. The library reports
// BlueZ's first adapter as the radio: the adapter with the lowest index among
// the primary controllers that BlueZ manages. The daemon's default picks that
// same controller; --hci N picks an index and --hci-address an address, which
// stays right when the index changes after an unplug or a reboot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vrlbusd {

struct ControllerInfo {
  int index = 0;         // hciN
  uint64_t address = 0;  // 48-bit device address, most significant byte first in text
  bool primary = true;   // a BR/EDR or LE controller (not an AMP controller)
  bool raw = false;      // in raw or user-channel mode: not BlueZ's
};

struct ControllerChoice {
  enum class Kind { kFirst, kIndex, kAddress } kind = Kind::kFirst;
  int index = 0;
  uint64_t address = 0;
  // "first controller", "hci1", "controller 00:11:22:33:44:55"
  std::string describe() const;
};

// The index of the chosen controller among those listed, or nothing.
std::optional<int> chooseController(const std::vector<ControllerInfo>& controllers, const ControllerChoice& choice);

// "00:11:22:33:44:55" (either letter case); false for anything else.
bool parseControllerAddress(const std::string& text, uint64_t* address);
std::string controllerAddressText(uint64_t address);

}  // namespace vrlbusd
