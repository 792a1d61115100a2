// The btutil commands of the password prompt and the language helpers.
#pragma once

#include <span>
#include <string>

#include "console.h"

namespace utils::btutil {

// unlock [--context N]: GetUserPassword from the terminal. Exit 0 unlocked, 1 not.
int runUnlock(std::span<const std::string> args, Console& console);
// lang [--json]: the language, its library, and whether it loads. Exit 0 when it
// loads, 1 when nothing loads.
int runLang(std::span<const std::string> args, Console& console);

}  // namespace utils::btutil
