// vrlbusd: the suite's bus driver on Linux. Listens on a Unix socket for I/O
// control requests and vendor-event subscriptions and drives a Bluetooth
// controller: a real one through a raw HCI socket, or the built-in emulator.
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "emulator.h"
#include "hci_controller.h"
#include "port/linux/bus_protocol.h"
#include "server.h"

namespace {

constexpr const char* kUsage = R"(vrlbusd: the bus driver daemon of the Bluetooth suite on Linux.

It listens on a Unix socket for the library's I/O control requests, answers them
through a controller (a real one, or the built-in emulator) and pushes the
radio's vendor events to subscribers.

Usage: vrlbusd [--emulate | --hci N] [options]

  --emulate             use the built-in controller emulator
  --hci N               use controller hciN through a raw HCI socket (default 0)
  --socket PATH         listen on PATH (default: $UTILS_BUS_SOCKET, else /run/vrlbusd/bus.sock)
  --socket-mode OCTAL   permissions of the socket (default 0660)
  --group NAME          give the socket to group NAME
  --manufacturer N      emulator: company identifier (default 0x05F1)
  --lmp-subversion N    emulator: LMP subversion (default 0x0100)
  --frame-timeout MS    drop a client that leaves a frame incomplete this long (default 5000)
  --allow-opcode OPCODE also forward HCI command OPCODE (such as 0x0C03); repeatable
  --verbose             log every connection, request and event
  --help                this text

Clients may send vendor-specific HCI commands only (OGF 0x3F, opcodes 0xFC00 to
0xFFFF); any other opcode is refused with error 5 (access denied) unless an
administrator allows it with --allow-opcode. The controller version request is
the daemon's own and always answered.

Exit codes: 0 stopped by SIGINT or SIGTERM; 1 no controller or the socket cannot
be served; 2 bad command line.

Examples:
  vrlbusd --emulate --socket /tmp/bus.sock
  UTILS_BUS_SOCKET=/tmp/bus.sock btutil stack
)";

bool parseNumber(const std::string& text, int base, unsigned long max, unsigned long* value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long parsed = std::strtoul(text.c_str(), &end, base);
  if (text.empty() || *end != '\0' || errno != 0 || parsed > max || text[0] == '-') return false;
  *value = parsed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  vrlbusd::ServerSettings settings;
  const char* configured = std::getenv("UTILS_BUS_SOCKET");
  settings.socketPath = configured != nullptr && *configured ? configured : utils::busproto::kDefaultSocketPath;
  vrlbusd::EmulatorSettings emulation;
  vrlbusd::OpcodePolicy policy;
  bool emulate = false;
  unsigned long hciIndex = 0;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    unsigned long number = 0;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--emulate") {
      emulate = true;
    } else if (arg == "--verbose" || arg == "-v") {
      settings.verbose = true;
    } else if (arg == "--hci" && hasValue && parseNumber(args[i + 1], 10, 0xFFFE, &number)) {
      hciIndex = number;
      ++i;
    } else if (arg == "--frame-timeout" && hasValue && parseNumber(args[i + 1], 10, 3600000, &number) && number > 0) {
      settings.frameTimeout = std::chrono::milliseconds(number);
      ++i;
    } else if (arg == "--allow-opcode" && hasValue && parseNumber(args[i + 1], 0, 0xFFFF, &number)) {
      policy.allow(static_cast<uint16_t>(number));
      ++i;
    } else if (arg == "--socket" && hasValue) {
      settings.socketPath = args[++i];
    } else if (arg == "--socket-mode" && hasValue && parseNumber(args[i + 1], 8, 0777, &number)) {
      settings.socketMode = static_cast<unsigned>(number);
      ++i;
    } else if (arg == "--group" && hasValue) {
      settings.group = args[++i];
    } else if (arg == "--manufacturer" && hasValue && parseNumber(args[i + 1], 0, 0xFFFF, &number)) {
      emulation.manufacturer = static_cast<uint16_t>(number);
      ++i;
    } else if (arg == "--lmp-subversion" && hasValue && parseNumber(args[i + 1], 0, 0xFFFF, &number)) {
      emulation.lmpSubversion = static_cast<uint16_t>(number);
      ++i;
    } else {
      std::cerr << "vrlbusd: bad argument \"" << arg << "\"\n" << kUsage;
      return 2;
    }
  }

  std::unique_ptr<vrlbusd::Controller> controller;
  if (emulate) {
    controller = std::make_unique<vrlbusd::Emulator>(emulation);
  } else {
    std::string error;
    controller = vrlbusd::HciController::open(static_cast<int>(hciIndex), &error);
    if (!controller) {
      std::cerr << "vrlbusd: no controller: " << error << " (use --emulate without one)\n";
      return 1;
    }
  }

  vrlbusd::Server server(settings, *controller, policy);
  std::string error;
  if (!server.listen(&error)) {
    std::cerr << "vrlbusd: " << error << "\n";
    return 1;
  }
  return server.run();
}
