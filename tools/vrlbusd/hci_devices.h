// The kernel's Bluetooth controllers: listing them, and opening the chosen one
// as a raw HCI socket that receives Command Complete, Command Status and vendor
// events. Needs a kernel with Bluetooth; vendor commands and vendor events need
// CAP_NET_RAW.
#pragma once

#include <string>
#include <vector>

#include "controller_choice.h"

namespace vrlbusd {

// The controllers there are now. False and *error set when they cannot be listed.
bool listControllers(std::vector<ControllerInfo>* controllers, std::string* error);

// A non-blocking raw HCI socket on the chosen controller, or -1 and *error.
int openRawHci(const ControllerChoice& choice, std::string* error);

}  // namespace vrlbusd
