#include "controller_choice.h"

#include "port/linux/address_text.h"

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
  return utils::linuxport::parseColonAddress(text, address);
}

std::string controllerAddressText(uint64_t address) { return utils::linuxport::colonAddressText(address); }

}  // namespace vrlbusd
