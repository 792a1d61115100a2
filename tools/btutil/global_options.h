// The options that stand before btutil's command word: --trace, --version and
// the help requests.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "utils/wintypes.h"

namespace utils::btutil {

struct GlobalOptions {
  std::optional<DWORD> logLevelMask;  // --trace MASK
  std::optional<DWORD> appDebugMask;  // --trace MASK,APPMASK
  bool version = false;
  bool help = false;
  size_t consumed = 0;  // how many arguments the options took; the command word follows
};

// Reads the options before the command word. False, with *error, for an unknown
// option or a malformed mask.
bool parseGlobalOptions(std::span<const std::string> args, GlobalOptions* options, std::string* error);

// The library's load step for this run: reads the debug settings as a process
// that loads the library does, then puts the masks that --trace gave in their place.
void loadLibrarySettings(const GlobalOptions& options);

}  // namespace utils::btutil
