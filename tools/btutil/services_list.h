// btutil services list: the support list as the library reads it.
#pragma once

#include "console.h"
#include "port/registry_port.h"

namespace utils::btutil {

// Prints every value of the support list with what it means: supported, not
// supported, or passed over (and why); as one JSON document when json is set.
int printSupportList(port::RegistryPort& registry, bool json, Console& console);

}  // namespace utils::btutil
