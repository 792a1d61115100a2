// Runs one btutil command line in process, on the platform the test installed,
// with the given standard input, and keeps its exit code and both outputs.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

namespace utils::test {

struct BtutilRun {
  int code;
  std::string out;
  std::string err;
};

inline BtutilRun runBtutil(const std::vector<std::string>& args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int code = btutil::runBtutil(args, in, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace utils::test
