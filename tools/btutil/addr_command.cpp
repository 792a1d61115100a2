// btutil addr ADDRESS
#include "address_input.h"
#include "command_args.h"
#include "commands.h"

namespace utils::btutil {

int runAddr(std::span<const std::string> args, Console& console) {
  ParsedArgs parsed;
  if (int code = prepareArgs(args, {}, 1, "addr", console, &parsed); code >= 0) return code;
  AddressInput address;
  std::string error;
  if (!parseAddress(parsed.positional[0], &address, &error)) return usageError(console, error, "addr");
  console.out << "Text:    " << addressText(address.bt) << '\n'
              << "BtAddr:  " << btValueText(address.bt) << '\n'
              << "BdAddr:  " << bdBytesText(address.bd) << '\n';
  return kExitOk;
}

}  // namespace utils::btutil
