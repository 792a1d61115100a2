// Where a command writes its results and its complaints, and the exit codes it
// ends with.
#pragma once

#include <ostream>
#include <string_view>

namespace utils::btutil {

// 0: done. 1: the command line or an input file is wrong (nothing was changed).
// 2: the registry or the file system refused the operation.
enum ExitCode : int { kExitOk = 0, kExitUsage = 1, kExitFailed = 2 };

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
