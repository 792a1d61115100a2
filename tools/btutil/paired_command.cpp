// btutil paired [--notify] [--json]: the count of remembered devices, and with
// --notify the paired-device count request to the bus driver.
#include "command_args.h"
#include "json_output.h"
#include "radio/paired_count.h"
#include "radio_commands.h"
#include "utils/radio.h"

namespace utils::btutil {

int runPaired(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"notify", false}, {"json", false}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 0, "paired", console, &parsed); code >= 0) return code;
  const bool json = parsed.has("json");
  const unsigned count = radio::CountPairedDevices();
  if (!json) console.out << "Remembered devices: " << count << '\n';
  if (parsed.has("notify")) {
    HANDLE bus = OpenBusHandle();
    if (bus == nullptr) return failure(console, "The bus driver is not there (is vrlbusd running?); nothing was sent.");
    CloseHandle(bus);
    NotifyDriverPairedDeviceNum();
    if (!json) console.out << "Sent the count to the bus driver.\n";
  }
  if (json) printJson(console, Json{{"remembered", count}, {"notified", parsed.has("notify")}});
  return kExitOk;
}

}  // namespace utils::btutil
