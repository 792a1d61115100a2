// btutil: installs the native platform and runs one command line.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "global_options.h"
#include "port/linux/linux_platform.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // --trace shows the lines on the terminal unless UTILS_DEBUG_OUTPUT names a
  // place for them; the debug output reads the variable when it is installed.
  utils::btutil::GlobalOptions global;
  std::string ignored;  // a malformed option is reported by runBtutil
  if (utils::btutil::parseGlobalOptions(args, &global, &ignored) && global.logLevelMask) {
    const char* setting = std::getenv("UTILS_DEBUG_OUTPUT");
    if (setting == nullptr || setting[0] == '\0') setenv("UTILS_DEBUG_OUTPUT", "stderr", 1);
  }
  utils::linuxport::installNativePlatform();
  return utils::btutil::runBtutil(args, std::cout, std::cerr);
}
