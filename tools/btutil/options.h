// Command-line switches in reg's style: /v NAME, /f ... (also written -v, any
// letter case), told apart from positional arguments such as key paths and
// absolute file paths: a "/" argument is a switch only when it names one.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace utils::btutil {

struct OptionSpec {
  std::string_view name;  // lower case, without the / or -
  bool takesValue;
};

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> options;  // name -> value ("" for a flag)
  bool help = false;                                        // a help request stood among the arguments

  bool has(std::string_view name) const { return options.find(name) != options.end(); }
  // The option's value, or the empty text when it was not given.
  const std::string& value(std::string_view name) const;
};

// ASCII lower-casing of switch names and command words.
std::string lowerAscii(std::string_view text);

// "/?", "-?", "-h", "/h" and "--help".
bool isHelpRequest(std::string_view arg);

// Splits args into options of the given specs and positional arguments. An
// unknown "-" switch, a repeated one or a missing value is an error. A help request
// is noted, not kept as an argument. "--" ends the options: every argument after
// it is positional.
bool parseArgs(std::span<const std::string> args, std::span<const OptionSpec> specs, ParsedArgs* parsed,
               std::string* error);

}  // namespace utils::btutil
