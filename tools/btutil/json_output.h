// The --json output of btutil's reporting commands: one JSON document on
// standard output, keys in the order they are set.
#pragma once

#include <nlohmann/json.hpp>

#include "console.h"

namespace utils::btutil {

using Json = nlohmann::ordered_json;

// Writes the document, indented, and a newline.
void printJson(Console& console, const Json& document);

}  // namespace utils::btutil
