#include <exception>

#include "commands.h"
#include "key_path.h"
#include "options.h"
#include "port/platform.h"
#include "reg_commands.h"
#include "text_codec.h"
#include "usage.h"

namespace utils::btutil {
namespace {

int dispatch(std::span<const std::string> args, Console& console) {
  port::RegistryPort* registry = port::platform().registry;
  if (registry == nullptr) return failure(console, "No registry is available.");
  if (args.empty()) return runDemo(*registry, console);
  for (size_t i = 0; i < args.size(); ++i) {
    if (!isValidUtf8(args[i])) return usageError(console, "Argument " + std::to_string(i + 1) + " is not valid UTF-8.");
  }
  const std::wstring command = upperAscii(std::wstring(args[0].begin(), args[0].end()));
  const auto rest = args.subspan(1);
  if (isHelpRequest(args[0]) || command == L"HELP") {
    std::string topic;  // "btutil help reg add" shows the text of "reg add"
    for (const auto& word : rest) topic += (topic.empty() ? "" : " ") + lowerAscii(word);
    printUsage(console.out, topic);
    return kExitOk;
  }
  if (command == L"REG") return runReg(rest, *registry, console);
  if (command == L"ADDR") return runAddr(rest, console);
  if (command == L"DECODE") return runDecode(rest, console);
  if (command == L"DEMO") {
    if (!rest.empty()) return usageError(console, "btutil demo takes no arguments.", "");
    return runDemo(*registry, console);
  }
  return usageError(console,
                    "Unknown command \"" + args[0] + "\": use reg, addr or decode; \"btutil --help\" lists them.");
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
