// What the permit operations share: the pair of addresses that names the
// per-device key, and the parsing of LOCAL REMOTE [CODE].
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "address_input.h"
#include "console.h"
#include "options.h"

namespace utils::btutil {

struct PermitPair {
  AddressInput local;
  AddressInput remote;
  // The per-device key below HKEY_CURRENT_USER.
  std::wstring keyPath() const;
  // "66:77:88:99:AA:BB on radio 00:11:22:33:44:55"
  std::string shown() const;
};

// Parses the switches, then LOCAL REMOTE and, when code is not null, CODE.
// Returns -1 to go on, else the exit code (help shown or usage refused).
int parsePermitArgs(std::span<const std::string> args, std::span<const OptionSpec> specs, std::string_view topic,
                    Console& console, ParsedArgs* parsed, PermitPair* pair, WORD* code);

// "0x1105"
std::string requestCodeText(WORD code);

// permit show: what is stored for the pair, decoded; never changes anything.
int runPermitShow(std::span<const std::string> args, Console& console);

}  // namespace utils::btutil
