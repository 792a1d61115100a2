#include "usage.h"

#include "command_table.h"

#ifndef UTILS_VERSION
#define UTILS_VERSION "unknown"
#endif

namespace utils::btutil {
namespace {

constexpr std::string_view kHeader = R"(btutil: the command-line tool of the utils library.

Usage:
  btutil [--trace MASK[,APPMASK]] COMMAND [ARGUMENTS...]
  btutil                     run a short self-demonstration on the built-in samples
)";

constexpr std::string_view kGlobal = R"(  btutil help [COMMAND [OPERATION]]
                             the help of a command (also "btutil COMMAND --help"
                             or "btutil COMMAND -h"); "btutil help --topics"
                             lists every topic
  btutil --version           the version of btutil and of the library
  btutil --help              this text

Options before the command:
  --trace MASK[,APPMASK]
      write the library's trace lines for this run only: MASK takes the place of
      the log level mask (LogDebug), APPMASK of the application trace mask
      (EnableAppDebug); both are numbers, decimal or 0x followed by hex digits.
      Nothing is written to the registry. The lines go to standard error, or to
      where UTILS_DEBUG_OUTPUT names when it is set ("stderr", "syslog" or a file).
      Without --trace the masks are read from HKLM\Software\vorlane and the lines
      go where UTILS_DEBUG_OUTPUT names.

Keys are HKLM\... or HKCU\... (also HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, any
case). Quote them in the shell, which would otherwise remove the backslashes.
On Linux the registry lives in the files named by UTILS_REGISTRY_MACHINE and
UTILS_REGISTRY_USER.

The commands that report (reg query, addr, radio, paired, stack, permit show,
services) take --json: they then print one JSON document on standard output.
)";

constexpr std::string_view kExamples = R"(
Examples:
  btutil reg add 'HKLM\Software\vorlane' /v LogDebug /t REG_DWORD /d 12 /f
  btutil reg query 'HKLM\Software\vorlane'
  btutil --trace 0x10 services enable 66:77:88:99:aa:bb
  btutil addr 00:1a:7d:da:71:13
  btutil decode 0x1234 DWORD
  btutil help reg add
)";

constexpr std::string_view kUsageLine = "  2  wrong command line or input; nothing was changed\n";
constexpr std::string_view kRefusedLine =
    "  3  refused by the system: the registry, a file, the radio or the bus driver\n";
// The commands that fail with 1 whatever the cause (reg) say so instead of 2 and 3.
constexpr std::string_view kFailedLine =
    "failed: wrong command line or input (nothing was changed), or refused\n"
    "     by the system: every failure exits with 1, as with reg.exe\n";
constexpr size_t kSummaryColumn = 29;

bool failsWithOne(const HelpTopic& topic) {
  const Command* command = findCommand(topic.name.substr(0, topic.name.find(' ')));
  return command != nullptr && command->failsWithOne;
}

void printCommandLine(std::ostream& out, const Command& command) {
  std::string left = "  btutil " + std::string(command.synopsis);
  if (left.size() < kSummaryColumn) {
    left.resize(kSummaryColumn, ' ');
  } else {
    left += '\n' + std::string(kSummaryColumn, ' ');
  }
  out << left;
  for (char c : command.summary) {
    out << c;
    if (c == '\n') out << std::string(kSummaryColumn, ' ');
  }
  out << '\n';
}

}  // namespace

void printOverview(std::ostream& out) {
  out << kHeader;
  for (const Command& command : commands()) printCommandLine(out, command);
  out << kGlobal << "\nExit status, the same for every command but reg (0 or 1, as reg.exe):\n  0  done, or yes\n";
  std::string negative = "  1  a negative answer:";
  size_t lineStart = 0;
  std::string_view separator = " ";
  for (const Command& command : commands()) {
    // The operations that answer, or the command itself when none of them does.
    auto topics = command.topics();
    bool operationsAnswer = false;
    for (const HelpTopic& topic : topics.subspan(1)) operationsAnswer = operationsAnswer || !topic.no.empty();
    if (operationsAnswer) topics = topics.subspan(1);
    for (size_t i = 0; i < topics.size(); ++i) {
      bool shown = topics[i].no.empty();  // each answer once per command
      for (size_t j = 0; j < i && !shown; ++j) shown = topics[j].no == topics[i].no;
      if (shown) continue;
      const std::string answer = std::string(topics[i].no) + " (" + std::string(topics[i].name) + ")";
      if (negative.size() - lineStart + separator.size() + answer.size() > 79) {  // wrap below the text
        negative += ",\n     ";
        lineStart = negative.size() - 5;
      } else {
        negative += separator;
      }
      negative += answer;
      separator = ", ";
    }
  }
  out << negative << '\n' << kUsageLine << kRefusedLine << kExamples;
}

bool printHelp(std::ostream& out, std::string_view name) {
  const HelpTopic* topic = findHelpTopic(name);
  if (topic == nullptr) return false;
  out << topic->text << "\nExit status:\n  0  " << (topic->yes.empty() ? "done" : topic->yes) << '\n';
  if (failsWithOne(*topic)) {
    out << "  1  " << (topic->no.empty() ? "" : std::string(topic->no) + ", or ") << kFailedLine;
    return true;
  }
  if (!topic->no.empty()) out << "  1  " << topic->no << '\n';
  out << kUsageLine << kRefusedLine;
  return true;
}

void printUsage(std::ostream& out, std::string_view topic) {
  if (!printHelp(out, topic)) printOverview(out);
}

std::string commandWords() {
  std::string words;
  const auto all = commands();
  for (size_t i = 0; i < all.size(); ++i) {
    if (i > 0) words += i + 1 == all.size() ? " or " : ", ";
    words += all[i].name;
  }
  return words;
}

std::string versionText() { return "btutil (utils) " UTILS_VERSION; }

}  // namespace utils::btutil
