#include "command_args.h"

#include "common/utf16.h"
#include "usage.h"

namespace utils::btutil {

int prepareArgs(std::span<const std::string> args, std::span<const OptionSpec> specs, size_t positionalCount,
                std::string_view topic, Console& console, ParsedArgs* parsed) {
  std::string error;
  if (!parseArgs(args, specs, parsed, &error)) return usageError(console, error, topic);
  if (parsed->help) {
    printUsage(console.out, topic);
    return kExitOk;
  }
  const size_t given = parsed->positional.size();
  if (given < positionalCount) {
    return usageError(console,
                      "btutil " + std::string(topic) + " needs " + std::to_string(positionalCount) +
                          (positionalCount == 1 ? " argument" : " arguments") + ", " + std::to_string(given) +
                          " given.",
                      topic);
  }
  if (given > positionalCount) {
    const std::string& extra = parsed->positional[positionalCount];
    const bool slashed = !extra.empty() && extra[0] == '/';
    return usageError(console,
                      (slashed ? "Unknown option or unexpected argument \"" : "Too many arguments: \"") + extra +
                          (slashed ? "\"." : "\" is not expected."),
                      topic);
  }
  return -1;
}

bool keyArgument(const std::string& text, std::string_view topic, Console& console, KeyPath* key) {
  std::string error;
  if (parseKeyPath(utf8ToWide(text), key, &error)) return true;
  usageError(console, error, topic);
  return false;
}

std::string shownPath(const KeyPath& key) { return wideToUtf8(fullPath(key)); }

}  // namespace utils::btutil
