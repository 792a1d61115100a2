// The help texts of btutil permit, services and ftplist.
#include "help_topics.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kPermit = R"(Usage:
  btutil permit LOCAL REMOTE CODE
  btutil permit grant LOCAL REMOTE CODE --once | --always | --until TIME
  btutil permit allow-all LOCAL REMOTE
  btutil permit revoke LOCAL REMOTE CODE | --allow-all

The first form asks whether REMOTE may make a request of kind CODE to the local
radio LOCAL, as the suite decides it (a one-time permission is used up by a
"Permitted." answer).

grant writes a permission for one request kind: --once (used up by the request
it permits), --always, or --until TIME, where TIME is YYYY-MM-DDTHH:MM:SSZ in UTC
or +N followed by s, m, h or d. allow-all permits every request of REMOTE.
revoke removes the permissions of CODE (one-time, standing and time) or, with
--allow-all, the allow-all setting. They live under
HKCU\SOFTWARE\Vorlane\Pelmora\Devices\LOCAL\REMOTE.

LOCAL and REMOTE are addresses as btutil addr takes them; CODE is a number from
0 to 0xFFFF (decimal, or hexadecimal with 0x).

Examples:
  btutil permit grant 00:11:22:33:44:55 66:77:88:99:aa:bb 0x1105 --once
  btutil permit 00:11:22:33:44:55 66:77:88:99:aa:bb 0x1105
  btutil permit grant 00:11:22:33:44:55 66:77:88:99:aa:bb 0x1106 --until +2h
)";

constexpr std::string_view kServices = R"(Usage:
  btutil services supported GUID
  btutil services enable ADDRESS

supported tells whether the support list
(HKLM\SOFTWARE\Vorlane\Pelmora\Supported) marks the service class GUID
({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}) as supported.

enable switches on, for the paired device ADDRESS, every supported service class
that has not been enabled for it yet, then lists the services recorded for it.
On Linux a service class counts as enabled when the paired device offers it
among its service UUIDs. The outcome of each service is a trace line (LogDebug
bit 4).

Examples:
  btutil services supported {00001105-0000-1000-8000-00805F9B34FB}
  btutil services enable 66:77:88:99:aa:bb
)";

constexpr std::string_view kFtplist = R"(Usage:
  btutil ftplist pack [--lead TEXT] NAME...
  btutil ftplist unpack [--lead]

pack writes a file-name list block holding the optional leading string and the
names (which must not be empty) to standard output. unpack reads a block from
standard input, checks it (size field, terminators) and prints its strings one
per line; with --lead the first line is the leading string. A malformed block is
refused with the reason.

Example:
  btutil ftplist pack --lead /inbox a.txt b.txt | btutil ftplist unpack --lead
)";

constexpr HelpTopic kPermitTopics[] = {{"permit", kPermit, "permitted", "not permitted"},
                                       {"permit grant", kPermit},
                                       {"permit allow-all", kPermit},
                                       {"permit revoke", kPermit}};
constexpr HelpTopic kServicesTopics[] = {{"services", kServices, "supported", "not supported"},
                                         {"services supported", kServices, "supported", "not supported"},
                                         {"services enable", kServices}};
constexpr HelpTopic kFtplistTopics[] = {
    {"ftplist", kFtplist}, {"ftplist pack", kFtplist}, {"ftplist unpack", kFtplist}};

}  // namespace

std::span<const HelpTopic> permitHelp() { return kPermitTopics; }
std::span<const HelpTopic> servicesHelp() { return kServicesTopics; }
std::span<const HelpTopic> ftplistHelp() { return kFtplistTopics; }

}  // namespace utils::btutil
