// btutil rssi ADDRESS: the signal-strength command for one device.
#include "address_input.h"
#include "command_args.h"
#include "radio_commands.h"
#include "utils/radio.h"

namespace utils::btutil {

int runRssi(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, {}, 1, "rssi", console, &parsed); code >= 0) return code;
  AddressInput address;
  std::string error;
  if (!parseAddress(parsed.positional[0], &address, &error)) return usageError(console, error, "rssi");
  const DWORD result = SendRssiCmdWithAddr(address.bd.data());
  console.out << "Result: " << resultText(result) << '\n';
  if (result != 0) return failure(console, "The command was not sent: " + resultText(result) + ".");
  return kExitOk;
}

}  // namespace utils::btutil
