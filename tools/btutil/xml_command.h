// btutil xml: checks, prints and converts XML files through the library's
// element tree.
#pragma once

#include <span>
#include <string>

#include "console.h"

namespace utils::btutil {

int runXml(std::span<const std::string> args, Console& console);

}  // namespace utils::btutil
