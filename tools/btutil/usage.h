// The usage texts of btutil and its commands.
#pragma once

#include <ostream>
#include <string_view>

namespace utils::btutil {

// topic: "" for the overview, "reg", "reg add", ..., "addr" or "decode".
void printUsage(std::ostream& out, std::string_view topic);

}  // namespace utils::btutil
