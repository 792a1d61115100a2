// btutil stack: the stack and driver checks.
#include "command_args.h"
#include "radio_commands.h"
#include "utils/radio.h"

namespace utils::btutil {

int runStack(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, {}, 0, "stack", console, &parsed); code >= 0) return code;
  console.out << "CheckBtStackIsStart: " << CheckBtStackIsStart() << '\n';
  console.out << "DeviceIsVorlane:     " << DeviceIsVorlane() << '\n';
  console.out << "BtDriverIsReady:     " << std::flush;  // up to 50 probes 500 ms apart
  console.out << BtDriverIsReady() << '\n';
  return kExitOk;
}

}  // namespace utils::btutil
