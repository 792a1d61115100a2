// btutil reg add|query|delete|export|import: reg's syntax over the registry port.
#pragma once

#include <span>
#include <string>

#include "console.h"
#include "port/registry_port.h"

namespace utils::btutil {

// args: what follows "reg" on the command line.
int runReg(std::span<const std::string> args, port::RegistryPort& registry, Console& console);

int regAdd(std::span<const std::string> args, port::RegistryPort& registry, Console& console);
int regQuery(std::span<const std::string> args, port::RegistryPort& registry, Console& console);
int regDelete(std::span<const std::string> args, port::RegistryPort& registry, Console& console);
int regExport(std::span<const std::string> args, port::RegistryPort& registry, Console& console);
int regImport(std::span<const std::string> args, port::RegistryPort& registry, Console& console);

}  // namespace utils::btutil
