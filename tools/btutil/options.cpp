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

// "/v" and "-v" are switches; "/tmp/x.reg" is a path, not an unknown switch.
bool looksLikeSwitch(std::string_view arg) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && arg.find('/', 1) == std::string_view::npos;
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
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (isHelpRequest(arg)) {
      parsed->help = true;
      continue;
    }
    if (!looksLikeSwitch(arg)) {
      parsed->positional.push_back(arg);
      continue;
    }
    const std::string name = lowerAscii(std::string_view(arg).substr(arg[1] == '-' ? 2 : 1));
    const OptionSpec* spec = nullptr;
    for (const auto& candidate : specs) {
      if (candidate.name == name) spec = &candidate;
    }
    if (spec == nullptr) {
      *error = "Unknown option " + arg + ".";
      return false;
    }
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
