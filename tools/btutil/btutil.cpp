#include <exception>
#include <iostream>

#include "commands.h"
#include "options.h"
#include "port/platform.h"
#include "radio_commands.h"
#include "reg_commands.h"
#include "text_codec.h"
#include "usage.h"
#include "xml_command.h"

namespace utils::btutil {
namespace {

int dispatch(std::span<const std::string> args, Console& console) {
  port::RegistryPort* registry = port::platform().registry;
  if (registry == nullptr) return failure(console, "No registry is available.");
  if (args.empty()) return runDemo(*registry, console);
  for (size_t i = 0; i < args.size(); ++i) {
    if (!isValidUtf8(args[i])) return usageError(console, "Argument " + std::to_string(i + 1) + " is not valid UTF-8.");
  }
  const std::string command = lowerAscii(args[0]);
  const auto rest = args.subspan(1);
  if (isHelpRequest(args[0]) || command == "help") {
    std::string topic;  // "btutil help reg add" shows the text of "reg add"
    for (const auto& word : rest) {
      if (!topic.empty()) topic += ' ';
      topic += lowerAscii(word);
    }
    printUsage(console.out, topic);
    return kExitOk;
  }
  if (command == "reg") return runReg(rest, *registry, console);
  if (command == "addr") return runAddr(rest, console);
  if (command == "decode") return runDecode(rest, console);
  if (command == "xml") return runXml(rest, console);
  if (command == "radio") return runRadio(rest, console);
  if (command == "hci") return runHci(rest, console);
  if (command == "paired") return runPaired(rest, console);
  if (command == "stack") return runStack(rest, console);
  if (command == "rssi") return runRssi(rest, console);
  if (command == "watch") return runWatch(rest, console);
  if (command == "permit") return runPermit(rest, console);
  if (command == "services") return runServices(rest, console);
  if (command == "ftplist") return runFtplist(rest, std::cin, console);
  if (command == "demo") {
    if (!rest.empty()) return usageError(console, "btutil demo takes no arguments.", "");
    return runDemo(*registry, console);
  }
  return usageError(console, "Unknown command \"" + args[0] +
                                 "\": use reg, addr, decode, permit, services, ftplist, radio, hci, paired, stack, "
                                 "rssi or watch; \"btutil --help\" lists them.");
}

}  // namespace

int runBtutil(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  Console console{out, err};
  try {
    const int code = dispatch(args, console);
    out.flush();
    if (!out) return failure(console, "The output could not be written.");
    return code;
  } catch (const std::exception& e) {
    return failure(console, std::string("Internal error: ") + e.what());
  }
}

}  // namespace utils::btutil
