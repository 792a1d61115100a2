// The btutil commands besides reg, and the entry point that dispatches them all.
#pragma once

#include <istream>
#include <ostream>
#include <span>
#include <string>

#include "console.h"
#include "port/registry_port.h"

namespace utils::btutil {

// Runs one command line (without the program name) against the installed
// platform and returns the exit code. Never throws.
int runBtutil(std::span<const std::string> args, std::ostream& out, std::ostream& err);
// The same, with the standard input that commands such as "ftplist unpack" read.
int runBtutil(std::span<const std::string> args, std::istream& in, std::ostream& out, std::ostream& err);

int runAddr(std::span<const std::string> args, Console& console);
int runDecode(std::span<const std::string> args, Console& console);
// The self-demonstration: the debug settings as stored, a sample address, a
// sample decoded value.
int runDemo(port::RegistryPort& registry, Console& console);

// permit LOCAL REMOTE CODE (exit 0 when permitted, 1 when not), permit grant,
// permit allow-all and permit revoke: the settings IsRequestPermitted reads.
int runPermit(std::span<const std::string> args, Console& console);
// services supported GUID | services enable ADDRESS
int runServices(std::span<const std::string> args, Console& console);
// ftplist pack [--lead TEXT] NAME... | ftplist unpack [--lead] (the block on in)
int runFtplist(std::span<const std::string> args, std::istream& in, Console& console);

}  // namespace utils::btutil
