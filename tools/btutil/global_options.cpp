#include "global_options.h"

#include "diag/debug_settings.h"
#include "numbers.h"
#include "options.h"

namespace utils::btutil {
namespace {

bool parseTrace(std::string_view text, GlobalOptions* options, std::string* error) {
  const size_t comma = text.find(',');
  const auto logMask = parseUnsigned(text.substr(0, comma), 0xFFFFFFFFu);
  std::optional<uint64_t> appMask;
  if (comma != std::string_view::npos) appMask = parseUnsigned(text.substr(comma + 1), 0xFFFFu);
  if (!logMask || (comma != std::string_view::npos && !appMask)) {
    *error = "The trace mask \"" + std::string(text) +
             "\" is not MASK or MASK,APPMASK (MASK a 32-bit number, APPMASK up to 0xFFFF; decimal or 0x...).";
    return false;
  }
  options->logLevelMask = static_cast<DWORD>(*logMask);
  if (appMask) options->appDebugMask = static_cast<DWORD>(*appMask);
  return true;
}

}  // namespace

bool parseGlobalOptions(std::span<const std::string> args, GlobalOptions* options, std::string* error) {
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (isHelpRequest(arg)) {
      options->help = true;
    } else if (arg == "--version") {
      options->version = true;
    } else if (arg == "--trace" || arg.starts_with("--trace=")) {
      if (options->logLevelMask) {
        *error = "The option --trace is given twice.";
        return false;
      }
      std::string value;
      if (arg != "--trace") {
        value = arg.substr(8);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        *error = "The option --trace needs a mask, such as --trace 0x1C.";
        return false;
      }
      if (!parseTrace(value, options, error)) return false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      *error = "Unknown option " + arg + " before the command.";
      return false;
    } else {
      break;  // the command word
    }
  }
  options->consumed = i;
  return true;
}

void loadLibrarySettings(const GlobalOptions& options) {
  diag::processAttach();
  if (options.logLevelMask) diag::setLogLevelMask(*options.logLevelMask);
  if (options.appDebugMask) diag::setAppDebugMask(*options.appDebugMask);
}

}  // namespace utils::btutil
