// The btutil commands of the radio and the bus driver.
#pragma once

#include <span>
#include <string>

#include "console.h"
#include "utils/wintypes.h"

namespace utils::btutil {

int runRadio(std::span<const std::string> args, Console& console);
int runHci(std::span<const std::string> args, Console& console);
int runPaired(std::span<const std::string> args, Console& console);
int runStack(std::span<const std::string> args, Console& console);
int runRssi(std::span<const std::string> args, Console& console);
int runWatch(std::span<const std::string> args, Console& console);
// dun ADDRESS connect|disconnect|status|watch: exit 0 when up (or released), 1 when not.
int runDun(std::span<const std::string> args, Console& console);

// "0x0000001D"-style text of a result code with what it means.
std::string resultText(DWORD result);

}  // namespace utils::btutil
