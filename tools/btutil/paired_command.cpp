// btutil paired [--notify]: the count of remembered devices, and with --notify
// the paired-device count request to the bus driver.
#include "command_args.h"
#include "radio/paired_count.h"
#include "radio_commands.h"
#include "utils/radio.h"

namespace utils::btutil {

int runPaired(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"notify", false}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 0, "paired", console, &parsed); code >= 0) return code;
  console.out << "Remembered devices: " << static_cast<unsigned>(radio::CountPairedDevices()) << '\n';
  if (!parsed.has("notify")) return kExitOk;
  HANDLE bus = OpenBusHandle();
  if (bus == nullptr) return failure(console, "The bus driver is not there (is vrlbusd running?); nothing was sent.");
  CloseHandle(bus);
  NotifyDriverPairedDeviceNum();
  console.out << "Sent the count to the bus driver.\n";
  return kExitOk;
}

}  // namespace utils::btutil
