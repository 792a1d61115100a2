#include "usage.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kOverview = R"(btutil: the command-line tool of the utils library.

Usage:
  btutil                     run a short self-demonstration on the built-in samples
  btutil reg OPERATION ...   read and change the registry as reg does
                             (add, query, delete, export, import)
  btutil addr ADDRESS        convert a Bluetooth device address between its forms
  btutil decode VALUE [TYPE] print the value decoder's text for a trace value
  btutil radio               the first local radio's information
  btutil hci OPCODE [BYTES...] [--pattern BYTE]
                             send a vendor HCI command through the bus driver
  btutil paired [--notify]   count the remembered devices (and tell the bus driver)
  btutil stack               the stack and driver checks
  btutil rssi ADDRESS        send the signal-strength command for a device
  btutil watch ADDRESS [--seconds N]
                             follow a device's connection and signal level
  btutil permit ...          whether a remote device's request is permitted, and
                             its permission settings (grant, allow-all, revoke)
  btutil services ...        the support list and the service switch of a device
  btutil ftplist ...         pack and unpack file-name list blocks
  btutil --help              this text; "btutil reg --help" and the like for a command

Keys are HKLM\... or HKCU\... (also HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, any case).
On Linux the registry lives in the files named by UTILS_REGISTRY_MACHINE and
UTILS_REGISTRY_USER.

Exit codes: 0 done; 1 wrong command line or input file (nothing changed);
2 refused by the registry or the file system.

Examples:
  btutil reg add HKLM\Software\vorlane /v LogDebug /t REG_DWORD /d 12 /f
  btutil reg query HKLM\Software\vorlane
  btutil addr 00:1a:7d:da:71:13
  btutil decode 0x1234 DWORD
)";

constexpr std::string_view kReg = R"(Usage: btutil reg OPERATION ARGUMENTS

Operations:
  add      KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
  query    KEY [/v NAME | /ve] [/s]
  delete   KEY [/v NAME | /ve | /va] /f
  export   KEY FILE [/y]
  import   FILE

"btutil reg OPERATION --help" describes one operation. Switches may also be
written with "-" and in any letter case. Quote key paths in the shell: they hold
backslashes.

Examples:
  btutil reg add "HKLM\Software\vorlane" /v LogDebug /t REG_DWORD /d 12 /f
  btutil reg query "HKCU\Software\Vorlane" /s
  btutil reg export "HKLM\Software\vorlane" vorlane.reg
  btutil reg import vorlane.reg
)";

constexpr std::string_view kRegAdd = R"(Usage: btutil reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]

Creates KEY (and its missing parents); with /v or /ve also sets a value.
  /v NAME   the value to set
  /ve       the key's default value
  /t TYPE   REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,
            REG_BINARY or REG_NONE
  /d DATA   REG_DWORD, REG_QWORD: a decimal number or 0x followed by hex digits;
            REG_BINARY, REG_NONE: pairs of hex digits such as 0a0b0c;
            REG_MULTI_SZ: strings separated by \0 (or by SEP given with /s);
            without /d: empty data, or 0 for a number
  /f        overwrite an existing value; without it an existing value is an
            error and nothing changes (btutil never asks)

Examples:
  btutil reg add "HKLM\Software\vorlane" /v LogDebug /t REG_DWORD /d 12 /f
  btutil reg add "HKLM\Software\vorlane" /v EnableAppDebug /t REG_DWORD /d 0x3 /f
  btutil reg add "HKCU\Software\Vorlane\Test" /v Blob /t REG_BINARY /d 0a0b0c
  btutil reg add "HKCU\Software\Vorlane\Test" /ve /d "default text"
  btutil reg add "HKCU\Software\Vorlane\Empty"
)";

constexpr std::string_view kRegQuery = R"(Usage: btutil reg query KEY [/v NAME | /ve] [/s]

Prints the key's values (NAME, type and data) and its subkeys.
  /v NAME   only this value
  /ve       only the default value
  /s        the whole tree below KEY; with /v or /ve every key that has the value

Numbers print as 0x..., binary data as hex digits, strings as text.

Examples:
  btutil reg query "HKLM\Software\vorlane"
  btutil reg query "HKLM\Software\vorlane" /v LogDebug
  btutil reg query "HKCU\Software\Vorlane" /s
)";

constexpr std::string_view kRegDelete = R"(Usage: btutil reg delete KEY [/v NAME | /ve | /va] /f

Deletes KEY with everything below it, or only values of it.
  /v NAME   the value NAME
  /ve       the default value
  /va       every value of the key (its subkeys stay)
  /f        required: btutil never asks for confirmation

Examples:
  btutil reg delete "HKLM\Software\vorlane" /v LogDebug /f
  btutil reg delete "HKCU\Software\Vorlane\Test" /f
)";

constexpr std::string_view kRegExport = R"(Usage: btutil reg export KEY FILE [/y]

Writes KEY and everything below it to FILE in the registry file format
("Windows Registry Editor Version 5.00", UTF-16LE with a byte order mark).
  /y        overwrite FILE if it exists; without it an existing file is an error

Example:
  btutil reg export "HKLM\Software\vorlane" vorlane.reg
)";

constexpr std::string_view kRegImport = R"(Usage: btutil reg import FILE

Applies a registry file: "Windows Registry Editor Version 5.00" files in UTF-16
(with byte order mark) or UTF-8 (with or without one). [KEY] creates a key,
[-KEY] deletes one with its tree, "name"=- deletes a value. The whole file is
checked first: a malformed file is reported with its line number and nothing is
imported.

Example:
  btutil reg import vorlane.reg
)";

constexpr std::string_view kAddr = R"(Usage: btutil addr ADDRESS

Prints a Bluetooth device address in its forms: the text form, the 64-bit BtAddr
value and the six BdAddr bytes (most significant first).

ADDRESS is either
  the text form    00:1a:7d:da:71:13, 00-1A-7D-DA-71-13 or 001a7dda7113
  the 64-bit value 0x1A7DDA7113, or decimal such as 4660 (at most 48 bits)
Twelve decimal digits alone could be either form and are refused: add the
separators for the text form or write the value with 0x.

Example:
  btutil addr 00:1a:7d:da:71:13
)";

constexpr std::string_view kRadio = R"(Usage: btutil radio

Prints the first local radio's address, name, class, manufacturer and LMP
subversion. On Linux the radio is the Bluetooth daemon's first adapter; the
manufacturer and LMP subversion come from the controller through vrlbusd (0
without it).
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

constexpr std::string_view kPaired = R"(Usage: btutil paired [--notify]

Prints how many devices the local radio remembers; with --notify also sends
that count to the bus driver (NotifyDriverPairedDeviceNum).
)";

constexpr std::string_view kStack = R"(Usage: btutil stack

Runs the checks CheckBtStackIsStart, DeviceIsVorlane and BtDriverIsReady and
prints their answers (1 yes, 0 no). BtDriverIsReady tries for up to 25 seconds
when the stack does not accept a socket.
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

constexpr std::string_view kDecode = R"(Usage: btutil decode VALUE [TYPE]

Prints the text that the library's value decoder (XAD_Decode) gives for a 32-bit
VALUE (decimal or 0x...) of the named TYPE.

Example:
  btutil decode 0x1234 DWORD
)";

constexpr std::string_view kPermit = R"(Usage:
  btutil permit LOCAL REMOTE CODE
  btutil permit grant LOCAL REMOTE CODE --once | --always | --until TIME
  btutil permit allow-all LOCAL REMOTE
  btutil permit revoke LOCAL REMOTE CODE | --allow-all

The first form asks whether REMOTE may make a request of kind CODE to the local
radio LOCAL, as the suite decides it (a one-time permission is used up by a
"Permitted." answer). Exit code 0 when permitted, 1 when not.

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
({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}) as supported: exit code 0 when it
does, 1 when not.

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

}  // namespace

void printUsage(std::ostream& out, std::string_view topic) {
  static constexpr struct {
    std::string_view topic;
    std::string_view text;
  } kTexts[] = {{"reg", kReg},
                {"reg add", kRegAdd},
                {"reg query", kRegQuery},
                {"reg delete", kRegDelete},
                {"reg export", kRegExport},
                {"reg import", kRegImport},
                {"addr", kAddr},
                {"decode", kDecode},
                {"radio", kRadio},
                {"hci", kHci},
                {"paired", kPaired},
                {"stack", kStack},
                {"rssi", kRssi},
                {"watch", kWatch},
                {"permit", kPermit},
                {"permit grant", kPermit},
                {"permit allow-all", kPermit},
                {"permit revoke", kPermit},
                {"services", kServices},
                {"services supported", kServices},
                {"services enable", kServices},
                {"ftplist", kFtplist}};
  for (const auto& entry : kTexts) {
    if (entry.topic == topic) {
      out << entry.text;
      return;
    }
  }
  out << kOverview;
}

}  // namespace utils::btutil
