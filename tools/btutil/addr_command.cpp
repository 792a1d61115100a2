// btutil addr ADDRESS [--json]
#include "address_input.h"
#include "command_args.h"
#include "commands.h"
#include "json_output.h"

namespace utils::btutil {

int runAddr(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"json", false}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 1, "addr", console, &parsed); code >= 0) return code;
  AddressInput address;
  std::string error;
  if (!parseAddress(parsed.positional[0], &address, &error)) return usageError(console, error, "addr");
  if (parsed.has("json")) {
    printJson(console, Json{{"text", addressText(address.bt)},
                            {"btAddr", btValueText(address.bt)},
                            {"value", address.bt},
                            {"bdAddr", bdBytesText(address.bd)}});
    return kExitOk;
  }
  console.out << "Text:    " << addressText(address.bt) << '\n'
              << "BtAddr:  " << btValueText(address.bt) << '\n'
              << "BdAddr:  " << bdBytesText(address.bd) << '\n';
  return kExitOk;
}

}  // namespace utils::btutil
