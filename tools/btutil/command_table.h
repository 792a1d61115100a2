// The table of btutil's commands: what the dispatcher runs, what the overview
// lists, and the help texts that "btutil help COMMAND", "COMMAND --help" and the
// manual page show. Adding a command is one entry in kCommands (command_table.cpp)
// and its help topics.
#pragma once

#include <istream>
#include <span>
#include <string>
#include <string_view>

#include "console.h"
#include "port/registry_port.h"

namespace utils::btutil {

// One help text: a command's own ("reg") or one of its operations' ("reg add").
struct HelpTopic {
  std::string_view name;
  std::string_view text;
  // What exit codes 0 and 1 mean for it when it answers a question ("permitted",
  // "not permitted"); empty when the topic answers none, and 0 just means done.
  std::string_view yes = {};
  std::string_view no = {};
};

// What a command runs with.
struct CommandContext {
  Console& console;
  std::istream& in;
  port::RegistryPort& registry;
};

using CommandFunction = int (*)(std::span<const std::string> args, CommandContext& context);

struct Command {
  std::string_view name;      // the word typed: "reg"
  std::string_view synopsis;  // the overview's left column: "reg OPERATION ..."
  std::string_view summary;   // the overview's right column; lines apart by '\n'
  CommandFunction run;        // gets the arguments after the command word
  // topics()[0] is the command's own help; the others its operations'.
  std::span<const HelpTopic> (*topics)();
  // Every failure exits with 1, whatever its cause, as the Windows tool of the
  // same syntax does (reg); other commands tell wrong input (2) from a refusal
  // by the system (3).
  bool failsWithOne = false;
};

// Every command, in the overview's order.
std::span<const Command> commands();

// The command of that name (ASCII letter case ignored), or null.
const Command* findCommand(std::string_view name);

// The help topic of that name ("reg", "reg add", in lower case), or null.
const HelpTopic* findHelpTopic(std::string_view name);

}  // namespace utils::btutil
