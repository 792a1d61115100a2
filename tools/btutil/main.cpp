// btutil: installs the native platform and runs one command line.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "port/linux/linux_platform.h"

int main(int argc, char** argv) {
  utils::linuxport::installNativePlatform();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return utils::btutil::runBtutil(args, std::cout, std::cerr);
}
