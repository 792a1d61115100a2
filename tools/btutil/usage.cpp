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

constexpr std::string_view kDecode = R"(Usage: btutil decode VALUE [TYPE]

Prints the text that the library's value decoder (XAD_Decode) gives for a 32-bit
VALUE (decimal or 0x...) of the named TYPE.

Example:
  btutil decode 0x1234 DWORD
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
                {"decode", kDecode}};
  for (const auto& entry : kTexts) {
    if (entry.topic == topic) {
      out << entry.text;
      return;
    }
  }
  out << kOverview;
}

}  // namespace utils::btutil
