#include "console.h"

namespace utils::btutil {

int usageError(Console& console, std::string_view message, std::string_view helpTopic) {
  console.err << "ERROR: " << message << '\n';
  if (!helpTopic.empty()) console.err << "Type \"btutil " << helpTopic << " --help\" for usage.\n";
  return kExitUsage;
}

int failure(Console& console, std::string_view message) {
  console.err << "ERROR: " << message << '\n';
  return kExitFailed;
}

void reportSuccess(Console& console) { console.out << "The operation completed successfully.\n"; }

}  // namespace utils::btutil
