// The --json output of btutil's reporting commands: one JSON document on
// standard output, keys in the order they are set.
#pragma once

#include <nlohmann/json.hpp>

#include "console.h"
#include "reg_value.h"

namespace utils::btutil {

using Json = nlohmann::ordered_json;

// Writes the document, indented, and a newline.
void printJson(Console& console, const Json& document);

// A registry value: {"name", "type", "data"} with data as its type reads it: a
// number for REG_DWORD, REG_DWORD_BIG_ENDIAN and REG_QWORD, a string for REG_SZ
// and REG_EXPAND_SZ, an array of strings for REG_MULTI_SZ, and hex digits for
// anything else (a number of the wrong width included). The default value's
// name is "".
Json regValueJson(const RegValue& value);

}  // namespace utils::btutil
