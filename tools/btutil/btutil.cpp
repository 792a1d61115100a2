#include <exception>
#include <iostream>

#include "command_table.h"
#include "commands.h"
#include "global_options.h"
#include "options.h"
#include "port/platform.h"
#include "text_codec.h"
#include "usage.h"

namespace utils::btutil {
namespace {

// "btutil help [COMMAND [OPERATION]]": the overview, or the topic's text.
int showHelp(std::span<const std::string> words, Console& console) {
  std::string topic;
  for (const auto& word : words) {
    if (isHelpRequest(word)) continue;  // "btutil help --help"
    if (!topic.empty()) topic += ' ';
    topic += lowerAscii(word);
  }
  if (topic.empty()) {
    printOverview(console.out);
    return kExitOk;
  }
  if (topic == "--topics") {  // every topic, one a line: what the manual page is made of
    for (const Command& command : commands()) {
      for (const HelpTopic& entry : command.topics()) console.out << entry.name << '\n';
    }
    return kExitOk;
  }
  if (printHelp(console.out, topic)) return kExitOk;
  return usageError(console, "There is no help on \"" + topic + "\": the commands are " + commandWords() + ".");
}

// The help that the words after the command ask for: "--help", "-h", "help" or
// "OPERATION --help"; null when they ask for none.
const HelpTopic* requestedTopic(const Command& command, std::span<const std::string> rest) {
  if (rest.empty()) return nullptr;
  const std::string first = lowerAscii(rest[0]);
  if (isHelpRequest(first)) return findHelpTopic(command.name);
  if (first == "help") {
    const HelpTopic* operation =
        rest.size() > 1 ? findHelpTopic(std::string(command.name) + ' ' + lowerAscii(rest[1])) : nullptr;
    return operation != nullptr ? operation : findHelpTopic(command.name);
  }
  if (rest.size() > 1 && isHelpRequest(rest[1])) return findHelpTopic(std::string(command.name) + ' ' + first);
  return nullptr;
}

// Runs what ARGS ask for; *ran is the command they name, if they name one.
int dispatch(std::span<const std::string> args, std::istream& in, Console& console, const Command** ran) {
  GlobalOptions global;
  std::string error;
  const bool parsed = parseGlobalOptions(args, &global, &error);
  const auto words = args.subspan(global.consumed);
  const Command* command = words.empty() ? nullptr : findCommand(words[0]);
  *ran = command;
  for (size_t i = 0; i < args.size(); ++i) {
    if (!isValidUtf8(args[i])) return usageError(console, "Argument " + std::to_string(i + 1) + " is not valid UTF-8.");
  }
  if (!parsed) return usageError(console, error + " Type \"btutil --help\" for usage.");
  if (global.version) {
    console.out << versionText() << '\n';
    return kExitOk;
  }
  if (global.help) return showHelp(args.subspan(global.consumed), console);
  loadLibrarySettings(global);

  port::RegistryPort* registry = port::platform().registry;
  if (registry == nullptr) return failure(console, "No registry is available.");
  if (words.empty()) return runDemo(*registry, console);
  if (lowerAscii(words[0]) == "help") return showHelp(words.subspan(1), console);
  if (command == nullptr) {
    return usageError(
        console, "Unknown command \"" + words[0] + "\": use " + commandWords() + "; \"btutil --help\" lists them.");
  }
  const auto rest = words.subspan(1);
  if (const HelpTopic* topic = requestedTopic(*command, rest)) {
    printHelp(console.out, topic->name);
    return kExitOk;
  }
  CommandContext context{console, in, *registry};
  return command->run(rest, context);
}

}  // namespace

int runBtutil(std::span<const std::string> args, std::istream& in, std::ostream& out, std::ostream& err) {
  Console console{out, err};
  const Command* ran = nullptr;
  int code;
  try {
    code = dispatch(args, in, console, &ran);
    out.flush();
    if (!out) code = failure(console, "The output could not be written.");
  } catch (const std::exception& e) {
    code = failure(console, std::string("Internal error: ") + e.what());
  }
  return code != kExitOk && ran != nullptr && ran->failsWithOne ? kExitNo : code;
}

int runBtutil(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  return runBtutil(args, std::cin, out, err);
}

}  // namespace utils::btutil
