// The help of btutil: the overview, each command's and operation's text with the
// exit codes that apply to it, and the version.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace utils::btutil {

// The overview: every command of the table, the global options, the exit codes.
void printOverview(std::ostream& out);

// The text of topic ("reg", "reg add", ... in lower case) followed by its exit
// codes; false (and nothing printed) when there is no such topic.
bool printHelp(std::ostream& out, std::string_view topic);

// printHelp, or the overview when there is no such topic.
void printUsage(std::ostream& out, std::string_view topic);

// "reg, addr, ... or demo": the command words, for hints.
std::string commandWords();

// "btutil (utils) 1.2.3".
std::string versionText();

}  // namespace utils::btutil
