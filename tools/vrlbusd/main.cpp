// vrlbusd: the suite's bus driver on Linux. Listens on a Unix socket for I/O
// control requests and vendor-event subscriptions and drives a Bluetooth
// controller: a real one through a raw HCI socket, a stand-in behind a Unix
// socket, or the built-in emulator.
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "emulator.h"
#include "hci_controller.h"
#include "hci_devices.h"
#include "port/linux/bus_protocol.h"
#include "server.h"

namespace {

constexpr const char* kUsage = R"(vrlbusd: the bus driver daemon of the Bluetooth suite on Linux.

It listens on a Unix socket for the library's I/O control requests, answers them
through a controller (a real one, or the built-in emulator) and pushes the
radio's vendor events to subscribers.

Usage: vrlbusd [--emulate | --hci N | --hci-address ADDRESS | --h4-socket PATH] [options]

Controller (default: the first controller, the one the library reports as the radio):
  --hci N               controller hciN through a raw HCI socket
  --hci-address ADDR    the controller with device address ADDR (00:11:22:33:44:55),
                        whatever its index; the right one on a machine with several
  --h4-socket PATH      a controller behind a Unix seqpacket socket speaking H4
                        (a stand-in controller, for tests)
  --emulate             the built-in controller emulator
  --manufacturer N      emulator: company identifier (default 0x05F1)
  --lmp-subversion N    emulator: LMP subversion (default 0x0100)

Socket and clients:
  --socket PATH         listen on PATH (default: $UTILS_BUS_SOCKET, else /run/vrlbusd/bus.sock);
                        missing folders are created
  --socket-mode OCTAL   permissions of the socket (default 0660)
  --group NAME          give the socket to group NAME (such as bluetooth)
  --allow-opcode OPCODE also forward HCI command OPCODE (such as 0x0C03); repeatable
  --max-clients N       connections at once (default 64; one user gets at most half)
  --frame-timeout MS    drop a client that leaves a frame incomplete this long (default 5000)
  --idle-timeout MS     drop a client that sends no request this long (default 10000)
  --command-timeout MS  fail a command the controller does not answer this long (default 2000)
  --queue-timeout MS    fail a command that waits this long for its turn (default 5000)
  --client-buffer BYTES drop a client that leaves more answers and events than this
                        unread (default 1048576, at least 131072)

Diagnostics:
  --btsnoop FILE        record the HCI commands and events in FILE (btsnoop format, for btmon -r)
  --verbose             log every connection, request and event
  --help                this text

Clients may send vendor-specific HCI commands only (OGF 0x3F, opcodes 0xFC00 to
0xFFFF); any other opcode is refused with error 5 (access denied) unless an
administrator allows it with --allow-opcode. The controller version request is
the daemon's own and always answered. When the controller goes away (unplugged),
clients get error 21 (not ready) until it is back; the daemon reopens it every
second.

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

bool parseMilliseconds(const std::string& text, std::chrono::milliseconds* value) {
  unsigned long number = 0;
  if (!parseNumber(text, 10, 3600000, &number) || number == 0) return false;
  *value = std::chrono::milliseconds(number);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);  // the log stream buffers its lines (see log.h)
  const std::vector<std::string> args(argv + 1, argv + argc);
  vrlbusd::ServerSettings settings;
  const char* configured = std::getenv("UTILS_BUS_SOCKET");
  settings.socketPath = configured != nullptr && *configured ? configured : utils::busproto::kDefaultSocketPath;
  vrlbusd::EmulatorSettings emulation;
  vrlbusd::OpcodePolicy policy;
  vrlbusd::ControllerChoice choice;
  bool emulate = false;
  std::string h4Socket;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    const std::string value = hasValue ? args[i + 1] : std::string();
    unsigned long number = 0;
    bool ok = true;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--emulate") {
      emulate = true;
      continue;
    } else if (arg == "--verbose" || arg == "-v") {
      settings.verbose = true;
      continue;
    } else if (!hasValue) {
      ok = false;
    } else if (arg == "--hci") {
      ok = parseNumber(value, 10, 0xFFFE, &number);
      choice.kind = vrlbusd::ControllerChoice::Kind::kIndex;
      choice.index = static_cast<int>(number);
    } else if (arg == "--hci-address") {
      ok = vrlbusd::parseControllerAddress(value, &choice.address);
      choice.kind = vrlbusd::ControllerChoice::Kind::kAddress;
    } else if (arg == "--h4-socket") {
      h4Socket = value;
      ok = !value.empty();
    } else if (arg == "--frame-timeout") {
      ok = parseMilliseconds(value, &settings.frameTimeout);
    } else if (arg == "--idle-timeout") {
      ok = parseMilliseconds(value, &settings.idleTimeout);
    } else if (arg == "--command-timeout") {
      ok = parseMilliseconds(value, &settings.commandTimeouts.answer);
    } else if (arg == "--queue-timeout") {
      ok = parseMilliseconds(value, &settings.commandTimeouts.queued);
    } else if (arg == "--client-buffer") {
      ok = parseNumber(value, 10, 1UL << 30, &number) && number >= 128 * 1024;
      settings.maxPendingOutput = number;
    } else if (arg == "--max-clients") {
      ok = parseNumber(value, 10, 4096, &number) && number >= 2;
      settings.maxClients = number;
      settings.maxClientsPerUser = number / 2;
    } else if (arg == "--allow-opcode") {
      ok = parseNumber(value, 0, 0xFFFF, &number);
      policy.allow(static_cast<uint16_t>(number));
    } else if (arg == "--btsnoop") {
      settings.capturePath = value;
      ok = !value.empty();
    } else if (arg == "--socket") {
      settings.socketPath = value;
    } else if (arg == "--socket-mode") {
      ok = parseNumber(value, 8, 0777, &number);
      settings.socketMode = static_cast<unsigned>(number);
    } else if (arg == "--group") {
      settings.group = value;
    } else if (arg == "--manufacturer") {
      ok = parseNumber(value, 0, 0xFFFF, &number);
      emulation.manufacturer = static_cast<uint16_t>(number);
    } else if (arg == "--lmp-subversion") {
      ok = parseNumber(value, 0, 0xFFFF, &number);
      emulation.lmpSubversion = static_cast<uint16_t>(number);
    } else {
      ok = false;
    }
    if (!ok) {
      std::cerr << "vrlbusd: bad argument \"" << arg << "\"" << (hasValue ? " \"" + value + "\"" : "") << "\n"
                << kUsage;
      return 2;
    }
    ++i;
  }

  std::unique_ptr<vrlbusd::Controller> controller;
  if (emulate) {
    controller = std::make_unique<vrlbusd::Emulator>(emulation);
  } else {
    std::unique_ptr<vrlbusd::HciController> hci;
    if (!h4Socket.empty()) {
      hci = std::make_unique<vrlbusd::HciController>(
          h4Socket, [h4Socket](std::string* error) { return vrlbusd::openH4Socket(h4Socket, error); });
    } else {
      hci = std::make_unique<vrlbusd::HciController>(
          choice.describe(), [choice](std::string* error) { return vrlbusd::openRawHci(choice, error); });
    }
    if (!hci->reopen()) {
      std::cerr << "vrlbusd: no controller: " << hci->lastError() << " (use --emulate without one)\n";
      return 1;
    }
    controller = std::move(hci);
  }

  vrlbusd::Server server(settings, *controller, policy);
  std::string error;
  if (!server.listen(&error)) {
    std::cerr << "vrlbusd: " << error << "\n";
    return 1;
  }
  return server.run();
}
