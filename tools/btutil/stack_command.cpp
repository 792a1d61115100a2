// btutil stack [--json]: the stack and driver checks.
#include "command_args.h"
#include "json_output.h"
#include "radio_commands.h"
#include "utils/radio.h"

namespace utils::btutil {

int runStack(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"json", false}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 0, "stack", console, &parsed); code >= 0) return code;
  if (parsed.has("json")) {
    const auto stackStarted = CheckBtStackIsStart();
    const auto vorlane = DeviceIsVorlane();
    const auto driverReady = BtDriverIsReady();  // up to 50 probes 500 ms apart
    printJson(
        console,
        Json{{"CheckBtStackIsStart", stackStarted}, {"DeviceIsVorlane", vorlane}, {"BtDriverIsReady", driverReady}});
    return kExitOk;
  }
  console.out << "CheckBtStackIsStart: " << CheckBtStackIsStart() << '\n';
  console.out << "DeviceIsVorlane:     " << DeviceIsVorlane() << '\n';
  console.out << "BtDriverIsReady:     " << std::flush;  // up to 50 probes 500 ms apart
  console.out << BtDriverIsReady() << '\n';
  return kExitOk;
}

}  // namespace utils::btutil
