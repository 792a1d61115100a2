#include "command_table.h"

#include "commands.h"
#include "help_topics.h"
#include "options.h"
#include "radio_commands.h"
#include "reg_commands.h"
#include "ui_commands.h"
#include "xml_command.h"

namespace utils::btutil {
namespace {

int demo(std::span<const std::string> args, CommandContext& context) {
  if (!args.empty()) return usageError(context.console, "btutil demo takes no arguments.", "demo");
  return runDemo(context.registry, context.console);
}

// The overview lists the commands in this order.
constexpr Command kCommands[] = {
    {"reg", "reg OPERATION ...", "read and change the registry as reg does\n(add, query, delete, export, import)",
     [](auto args, auto& c) { return runReg(args, c.registry, c.console); }, regHelp, true},
    {"addr", "addr ADDRESS", "convert a Bluetooth device address between its forms",
     [](auto args, auto& c) { return runAddr(args, c.console); }, addrHelp},
    {"decode", "decode VALUE [TYPE]", "print the value decoder's text for a trace value",
     [](auto args, auto& c) { return runDecode(args, c.console); }, decodeHelp},
    {"xml", "xml ACTION FILE ...", "check, print and convert XML files",
     [](auto args, auto& c) { return runXml(args, c.console); }, xmlHelp},
    {"radio", "radio", "the first local radio's information",
     [](auto args, auto& c) { return runRadio(args, c.console); }, radioHelp},
    {"hci", "hci OPCODE [BYTES...]", "send a vendor HCI command through the bus driver",
     [](auto args, auto& c) { return runHci(args, c.console); }, hciHelp},
    {"paired", "paired [--notify]", "count the remembered devices (and tell the bus driver)",
     [](auto args, auto& c) { return runPaired(args, c.console); }, pairedHelp},
    {"stack", "stack", "the stack and driver checks", [](auto args, auto& c) { return runStack(args, c.console); },
     stackHelp},
    {"rssi", "rssi ADDRESS", "send the signal-strength command for a device",
     [](auto args, auto& c) { return runRssi(args, c.console); }, rssiHelp},
    {"watch", "watch ADDRESS [--seconds N]", "follow a device's connection and signal level",
     [](auto args, auto& c) { return runWatch(args, c.console); }, watchHelp},
    {"dun", "dun ADDRESS OPERATION", "dial-up networking through a paired phone\n(connect, disconnect, status, watch)",
     [](auto args, auto& c) { return runDun(args, c.console); }, dunHelp},
    {"permit", "permit ...",
     "whether a remote device's request is permitted, and\nits permission settings (grant, allow-all, revoke)",
     [](auto args, auto& c) { return runPermit(args, c.console); }, permitHelp},
    {"services", "services ...", "the support list and the service switch of a device",
     [](auto args, auto& c) { return runServices(args, c.console); }, servicesHelp},
    {"ftplist", "ftplist ...", "pack and unpack file-name list blocks",
     [](auto args, auto& c) { return runFtplist(args, c.in, c.console); }, ftplistHelp},
    {"unlock", "unlock [--context N]", "prompt for the account's password and unlock",
     [](auto args, auto& c) { return runUnlock(args, c.console); }, unlockHelp},
    {"lang", "lang [--json]", "the interface language and its language library",
     [](auto args, auto& c) { return runLang(args, c.console); }, langHelp},
    {"demo", "demo", "the self-demonstration (also btutil without a command)", demo, demoHelp},
};

}  // namespace

std::span<const Command> commands() { return kCommands; }

const Command* findCommand(std::string_view name) {
  const std::string lower = lowerAscii(name);
  for (const Command& command : kCommands) {
    if (command.name == lower) return &command;
  }
  return nullptr;
}

const HelpTopic* findHelpTopic(std::string_view name) {
  for (const Command& command : kCommands) {
    for (const HelpTopic& topic : command.topics()) {
      if (topic.name == name) return &topic;
    }
  }
  return nullptr;
}

}  // namespace utils::btutil
