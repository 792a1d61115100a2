// The help texts of btutil permit, services and ftplist.
#include "help_topics.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kPermit = R"(Usage:
  btutil permit show LOCAL REMOTE [--json]
  btutil permit check LOCAL REMOTE CODE
  btutil permit grant LOCAL REMOTE CODE --once | --always | --until TIME
  btutil permit allow-all LOCAL REMOTE
  btutil permit revoke LOCAL REMOTE CODE | --allow-all

The permission settings of the remote device REMOTE towards the local radio
LOCAL, under HKCU\SOFTWARE\Vorlane\Pelmora\Devices\LOCAL\REMOTE.

  show       prints what is stored, decoded: allow-all, and per request code
             once, always or until when (and whether that has passed); with
             --json as one JSON document. It only reads.
  check      asks whether REMOTE may make a request of kind CODE, as the suite
             does; a one-time permission that grants is used up by it.
  grant      writes a permission for one request kind: --once (used up by the
             request it permits), --always, or --until TIME.
  allow-all  permits every request of REMOTE.
  revoke     removes the permissions of CODE (one-time, standing and time) or,
             with --allow-all, the allow-all setting.

LOCAL and REMOTE are addresses as btutil addr takes them; CODE is a number from
0 to 0xFFFF (decimal, or hexadecimal with 0x). TIME is YYYY-MM-DDTHH:MM[:SS] in
local time, or with a zone as ISO 8601 writes it (Z for UTC, +01:00, -0500), or
+N followed by s, m, h or d for that long from now.

Examples:
  btutil permit grant 00:11:22:33:44:55 66:77:88:99:aa:bb 0x1105 --once
  btutil permit show 00:11:22:33:44:55 66:77:88:99:aa:bb
  btutil permit check 00:11:22:33:44:55 66:77:88:99:aa:bb 0x1105
  btutil permit grant 00:11:22:33:44:55 66:77:88:99:aa:bb 0x1106 --until +2h
  btutil permit grant 00:11:22:33:44:55 66:77:88:99:aa:bb 0x1106 --until 2026-12-31T18:00
)";

constexpr std::string_view kServices = R"(Usage:
  btutil services list [--json]
  btutil services supported SERVICE [--json]
  btutil services enable ADDRESS [--json]

list prints the support list (HKLM\SOFTWARE\Vorlane\Pelmora\Supported): each
service class in it, supported or not, and the values that services enable
passes over (a name that is no GUID, a type other than REG_DWORD).

supported tells whether the support list marks the service class SERVICE as
supported. SERVICE is a UUID as Linux tools print it
(0000110b-0000-1000-8000-00805f9b34fb), the same in braces as the registry
writes it ({0000110B-0000-1000-8000-00805F9B34FB}), or a short form on the
Bluetooth base: 16 or 32 bits in hexadecimal, with or without 0x (0x110b, 110b).

enable switches on, for the paired device ADDRESS, every supported service class
that has not been enabled for it yet, then lists the services recorded for it.
On Linux a service class counts as enabled when the paired device offers it
among its service UUIDs. The outcome of each service is a trace line of level 4:
"btutil --trace 0x4 services enable ADDRESS" shows them.

With --json each prints one JSON document instead of text.

Examples:
  btutil services list
  btutil services supported 0x1105
  btutil services supported 0000110b-0000-1000-8000-00805f9b34fb --json
  btutil services enable 66:77:88:99:aa:bb
)";

constexpr std::string_view kFtplist = R"(Usage:
  btutil ftplist pack [--lead TEXT] [--] NAME...
  btutil ftplist unpack [--lead] [-0] [FILE]

pack writes a file-name list block holding the optional leading string and the
names (which must not be empty) to standard output. "--" ends the options, so
that names after it may start with "-".

unpack reads a block from FILE (or standard input when FILE is left out or "-"),
checks that its strings and terminators fit it, and prints its strings one per
line; with --lead the first line is the leading string. With -0 each string ends
with a NUL instead of a line break, so that names holding line breaks come
through (without -0 such a name is refused). The block's size field is not
consulted, as the library's readers never read it: a block made in place, whose
size field was never written, unpacks too. A malformed block is refused with
the reason.

Examples:
  btutil ftplist pack --lead /inbox a.txt b.txt | btutil ftplist unpack --lead
  btutil ftplist pack -- -notes.txt > list.bin
  btutil ftplist unpack -0 list.bin | xargs -0 ls -l --
)";

constexpr HelpTopic kPermitTopics[] = {
    {"permit", kPermit, "done, or permitted (permit check)", "not permitted (permit check)"},
    {"permit show", kPermit},
    {"permit check", kPermit, "permitted", "not permitted"},
    {"permit grant", kPermit},
    {"permit allow-all", kPermit},
    {"permit revoke", kPermit}};
constexpr HelpTopic kServicesTopics[] = {
    {"services", kServices, "done, or supported (services supported)", "not supported (services supported)"},
    {"services list", kServices},
    {"services supported", kServices, "supported", "not supported"},
    {"services enable", kServices}};
constexpr HelpTopic kFtplistTopics[] = {
    {"ftplist", kFtplist}, {"ftplist pack", kFtplist}, {"ftplist unpack", kFtplist}};

}  // namespace

std::span<const HelpTopic> permitHelp() { return kPermitTopics; }
std::span<const HelpTopic> servicesHelp() { return kServicesTopics; }
std::span<const HelpTopic> ftplistHelp() { return kFtplistTopics; }

}  // namespace utils::btutil
