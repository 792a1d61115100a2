// The help texts of the radio and bus-driver commands.
#include "help_topics.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kRadio = R"(Usage: btutil radio [--json]

Prints the first local radio's address, name, class, manufacturer and LMP
subversion. On Linux the radio is the Bluetooth daemon's first adapter; the
manufacturer and LMP subversion come from the controller through vrlbusd (0
without it). With --json as one JSON document: {"address", "name", "class",
"manufacturer", "lmpSubversion"}, the last three as numbers.
)";

constexpr std::string_view kHci = R"(Usage: btutil hci OPCODE [PARAM-BYTES...] [--pattern BYTE]

Sends a vendor-specific HCI command to the radio through the bus driver
(SendVendorHCICmdEx) and prints the result code and the driver's answer.
  OPCODE         the HCI opcode, such as 0xFC59
  PARAM-BYTES    the parameters as hex digit pairs: 01 00 11 22 or 01001122
  --pattern BYTE ask the driver to match a response pattern byte

Example:
  btutil hci 0xFC59 01 00 11 22 33 44 55 --pattern AA
)";

constexpr std::string_view kPaired = R"(Usage: btutil paired [--notify] [--json]

Prints how many devices the local radio remembers; with --notify also sends
that count to the bus driver (NotifyDriverPairedDeviceNum). With --json as one
JSON document: {"remembered": N, "notified": true or false}.
)";

constexpr std::string_view kStack = R"(Usage: btutil stack [--json]

Runs the checks CheckBtStackIsStart, DeviceIsVorlane and BtDriverIsReady and
prints their answers (1 yes, 0 no); with --json as one JSON document named by
the checks. BtDriverIsReady tries for up to 25 seconds when the stack does not
accept a socket.
)";

constexpr std::string_view kRssi = R"(Usage: btutil rssi ADDRESS

Sends the signal-strength command for the device at ADDRESS
(SendRssiCmdWithAddr) and prints the result code. The answer arrives later as a
vendor event of the radio.

Example:
  btutil rssi 00:11:22:33:44:55
)";

constexpr std::string_view kWatch = R"(Usage: btutil watch ADDRESS [--seconds N]

Starts the notification service for the device at ADDRESS (UTIL_BT_Initialize)
and prints each notification as a line: the time, connected=0 or 1 and the
level (0 to 5 from the signal strength, 6 once when the device connects). Ends
on Ctrl-C (or SIGTERM), or after N seconds.

On Linux the connection changes come from BlueZ and the signal events from
vrlbusd, which the service asks once a second while the level changes, then
after 4, 16 and every 64 seconds while it stays the same.

Example:
  btutil watch 00:11:22:33:44:55 --seconds 30
)";

constexpr std::string_view kDun = R"(Usage:
  btutil dun ADDRESS connect [--timeout N]
  btutil dun ADDRESS disconnect [--timeout N]
  btutil dun ADDRESS status
  btutil dun ADDRESS watch [--seconds N]

Dial-up networking through the paired phone at ADDRESS (DunInitialize with its
callback; each callback is printed with its time as "connected=1" or
"connected=0").
  connect     dials the phone (DunConnect) and waits for the first callback, up
              to N seconds (60 unless --timeout says), then prints "up" or "not
              up". A connection that is already up is left as it is. When no
              callback came in time the dial is hung up. The connection stays
              up when btutil ends.
  disconnect  hangs up the phone's connection (DunDisConnect) and waits up to N
              seconds (60) for the callback that it is gone.
  status      prints whether a connection on the phone's modem is up.
  watch       follows the connection and prints each callback until Ctrl-C (or
              SIGTERM), or for N seconds.

On Linux the phone is a paired BlueZ device that offers dial-up networking, and
the connection a NetworkManager profile named after the phone.

Examples:
  btutil dun 00:19:a1:b2:c3:d4 connect --timeout 30
  btutil dun 00:19:a1:b2:c3:d4 watch
)";

constexpr HelpTopic kRadioTopics[] = {{"radio", kRadio}};
constexpr HelpTopic kHciTopics[] = {{"hci", kHci}};
constexpr HelpTopic kPairedTopics[] = {{"paired", kPaired}};
constexpr HelpTopic kStackTopics[] = {{"stack", kStack}};
constexpr HelpTopic kRssiTopics[] = {{"rssi", kRssi}};
constexpr HelpTopic kWatchTopics[] = {{"watch", kWatch}};
constexpr HelpTopic kDunTopics[] = {
    {"dun", kDun, "up (connect, status) or released (disconnect)", "not up, or no connection to release"}};

}  // namespace

std::span<const HelpTopic> radioHelp() { return kRadioTopics; }
std::span<const HelpTopic> hciHelp() { return kHciTopics; }
std::span<const HelpTopic> pairedHelp() { return kPairedTopics; }
std::span<const HelpTopic> stackHelp() { return kStackTopics; }
std::span<const HelpTopic> rssiHelp() { return kRssiTopics; }
std::span<const HelpTopic> watchHelp() { return kWatchTopics; }
std::span<const HelpTopic> dunHelp() { return kDunTopics; }

}  // namespace utils::btutil
