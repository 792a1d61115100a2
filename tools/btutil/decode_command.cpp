// btutil decode VALUE [TYPE]
#include "command_args.h"
#include "commands.h"
#include "numbers.h"
#include "usage.h"
#include "utils/trace.h"

namespace utils::btutil {

int runDecode(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  std::string error;
  if (!parseArgs(args, {}, &parsed, &error)) return usageError(console, error, "decode");
  if (parsed.help) {
    printUsage(console.out, "decode");
    return kExitOk;
  }
  if (parsed.positional.empty() || parsed.positional.size() > 2) {
    return usageError(console, "btutil decode needs a VALUE and at most one TYPE.", "decode");
  }
  const auto value = parseUnsigned(parsed.positional[0], 0xFFFFFFFFull);
  if (!value) {
    return usageError(console,
                      "Invalid value \"" + parsed.positional[0] +
                          "\": give a 32-bit number, decimal or 0x followed by "
                          "hex digits.",
                      "decode");
  }
  const std::string type = parsed.positional.size() == 2 ? parsed.positional[1] : std::string();
  console.out << XAD_Decode(static_cast<DWORD>(*value), type.c_str()) << '\n';
  return kExitOk;
}

}  // namespace utils::btutil
