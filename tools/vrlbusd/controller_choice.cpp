#include "controller_choice.h"

#include <cstdio>

namespace vrlbusd {

std::string ControllerChoice::describe() const {
  switch (kind) {
    case Kind::kIndex: return "hci" + std::to_string(index);
    case Kind::kAddress: return "controller " + controllerAddressText(address);
    case Kind::kFirst: break;
  }
  return "first controller";
}

std::optional<int> chooseController(const std::vector<ControllerInfo>& controllers, const ControllerChoice& choice) {
  std::optional<int> chosen;
  for (const auto& controller : controllers) {
    bool fits = false;
    switch (choice.kind) {
      case ControllerChoice::Kind::kFirst: fits = controller.primary && !controller.raw; break;
      case ControllerChoice::Kind::kIndex: fits = controller.index == choice.index; break;
      case ControllerChoice::Kind::kAddress: fits = controller.address == choice.address; break;
    }
    if (fits && (!chosen || controller.index < *chosen)) chosen = controller.index;
  }
  return chosen;
}

bool parseControllerAddress(const std::string& text, uint64_t* address) {
  if (text.size() != 17) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i % 3 == 2) {
      if (c != ':') return false;
      continue;
    }
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  *address = value;
  return true;
}

std::string controllerAddressText(uint64_t address) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", static_cast<unsigned>(address >> 40 & 0xFF),
                static_cast<unsigned>(address >> 32 & 0xFF), static_cast<unsigned>(address >> 24 & 0xFF),
                static_cast<unsigned>(address >> 16 & 0xFF), static_cast<unsigned>(address >> 8 & 0xFF),
                static_cast<unsigned>(address & 0xFF));
  return text;
}

}  // namespace vrlbusd
