// Where a command writes its results and its complaints, and the exit codes it
// ends with.
#pragma once

#include <ostream>
#include <string_view>

namespace utils::btutil {

// The one exit-code table of every btutil command:
//   0 done, or yes;
//   1 a negative answer (not permitted, not supported, not found);
//   2 the command line or an input file is wrong (nothing was changed);
//   3 the system refused: the registry, the file system, the radio or the bus driver.
enum ExitCode : int { kExitOk = 0, kExitNo = 1, kExitUsage = 2, kExitFailed = 3 };

struct Console {
  std::ostream& out;
  std::ostream& err;
};

// Writes "ERROR: message" on the error stream and returns kExitUsage; helpTopic
// (for example "reg add") adds a pointer to that command's usage text.
int usageError(Console& console, std::string_view message, std::string_view helpTopic = {});

// Writes "ERROR: message" on the error stream and returns kExitFailed.
int failure(Console& console, std::string_view message);

// reg's closing line on success.
void reportSuccess(Console& console);

}  // namespace utils::btutil
