#include "options.h"

namespace utils::btutil {
std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

namespace {

// The switch named by arg, or nothing for a positional argument. "-x" is always
// meant as a switch; "/x" only when x is one of the command's switches, since on
// Linux "/tmp" or "/x.reg" are paths.
const OptionSpec* findSwitch(std::string_view arg, std::span<const OptionSpec> specs, bool* unknown) {
  *unknown = false;
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return nullptr;
  const std::string name = lowerAscii(arg.substr(arg[0] == '-' && arg[1] == '-' ? 2 : 1));
  for (const auto& spec : specs) {
    if (spec.name == name) return &spec;
  }
  *unknown = arg[0] == '-';
  return nullptr;
}

}  // namespace

const std::string& ParsedArgs::value(std::string_view name) const {
  static const std::string kEmpty;
  auto it = options.find(name);
  return it == options.end() ? kEmpty : it->second;
}

bool isHelpRequest(std::string_view arg) {
  const std::string lower = lowerAscii(arg);
  return lower == "/?" || lower == "-?" || lower == "-h" || lower == "/h" || lower == "--help";
}

bool parseArgs(std::span<const std::string> args, std::span<const OptionSpec> specs, ParsedArgs* parsed,
               std::string* error) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded) {
      parsed->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {  // what follows is positional, even when it starts with "-"
      optionsEnded = true;
      continue;
    }
    if (isHelpRequest(arg)) {
      parsed->help = true;
      continue;
    }
    bool unknown = false;
    const OptionSpec* spec = findSwitch(arg, specs, &unknown);
    if (unknown) {
      *error = "Unknown option " + arg + ".";
      return false;
    }
    if (spec == nullptr) {
      parsed->positional.push_back(arg);
      continue;
    }
    const std::string name(spec->name);
    if (parsed->has(name)) {
      *error = "The option " + arg + " is given twice.";
      return false;
    }
    std::string value;
    if (spec->takesValue) {
      if (i + 1 >= args.size()) {
        *error = "The option " + arg + " needs a value.";
        return false;
      }
      value = args[++i];
    }
    parsed->options.emplace(name, std::move(value));
  }
  return true;
}

}  // namespace utils::btutil
