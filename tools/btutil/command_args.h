// Steps that every reg command takes with its arguments.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "console.h"
#include "key_path.h"
#include "options.h"

namespace utils::btutil {

// Parses the switches and checks the positional argument count. Returns -1
// when the command should go on; otherwise the exit code (usage shown or
// refused) to end with.
int prepareArgs(std::span<const std::string> args, std::span<const OptionSpec> specs, size_t positionalCount,
                std::string_view topic, Console& console, ParsedArgs* parsed);

// Parses a key path argument; false after reporting a usage error.
bool keyArgument(const std::string& text, std::string_view topic, Console& console, KeyPath* key);

// The key path as reg prints it, in UTF-8.
std::string shownPath(const KeyPath& key);

}  // namespace utils::btutil
