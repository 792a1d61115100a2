// The help texts of btutil reg and its operations.
#include "help_topics.h"

namespace utils::btutil {
namespace {

constexpr std::string_view kReg = R"(Usage: btutil reg OPERATION ARGUMENTS

Operations:
  add      KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
  query    KEY [/v NAME | /ve] [/s] [--json]
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

Creates KEY (and its missing parents) and sets a value in it: the one named
by /v, otherwise the key's default value. KEY must not end with a backslash.
  /v NAME   the value to set
  /ve       the key's default value (also what is set without /v)
  /t TYPE   REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD
            (or REG_DWORD_LITTLE_ENDIAN), REG_DWORD_BIG_ENDIAN, REG_QWORD,
            REG_BINARY or REG_NONE
  /d DATA   REG_DWORD: a decimal number or 0x followed by hex digits (needed);
            REG_DWORD_BIG_ENDIAN: the same, stored in REG_DWORD's byte order
            as reg.exe stores it;
            REG_QWORD: the same, or a negative decimal number (-1 is all ones);
            REG_BINARY: hex digits such as 0a0b0c (abc is read as 0abc);
            REG_SZ, REG_EXPAND_SZ, REG_NONE: text, stored with its terminator;
            REG_MULTI_SZ: strings separated by \0 (or by SEP given with /s),
            where a separator at the end closes the list;
            without /d: empty data, or 0 for REG_QWORD
  /s SEP    the separator of REG_MULTI_SZ strings: one character
  /f        overwrite an existing value; without it an existing value is an
            error and nothing changes (btutil never asks)

Examples:
  btutil reg add "HKLM\Software\vorlane" /v LogDebug /t REG_DWORD /d 12 /f
  btutil reg add "HKLM\Software\vorlane" /v EnableAppDebug /t REG_DWORD /d 0x3 /f
  btutil reg add "HKCU\Software\Vorlane\Test" /v Blob /t REG_BINARY /d 0a0b0c
  btutil reg add "HKCU\Software\Vorlane\Test" /ve /d "default text"
  btutil reg add "HKCU\Software\Vorlane\Empty"
)";

constexpr std::string_view kRegQuery = R"(Usage: btutil reg query KEY [/v NAME | /ve] [/s] [--json]

Prints the key's values (NAME, type and data) and its subkeys.
  /v NAME   only this value
  /ve       only the default value, shown as (value not set) when not set
  /s        the whole tree below KEY; with /v or /ve every key that has the value
            (finding none is a search that ends with 0 matches, not an error)
  --json    one JSON document instead: {"keys": [{"key", "values", "subkeys"}]}
            with each value as {"name", "type", "data"}; subkeys only without /s
            and /v. Nothing is printed on standard output when the key or value
            is not found.

The text is laid out as reg lays it out: a key without values lists just its
subkeys. Numbers print as 0x..., binary data as hex digits, strings as text. In JSON,
REG_DWORD, REG_DWORD_BIG_ENDIAN and REG_QWORD data are numbers, REG_SZ and
REG_EXPAND_SZ strings, REG_MULTI_SZ an array of strings, anything else hex
digits; the default value's name is "".

Examples:
  btutil reg query "HKLM\Software\vorlane"
  btutil reg query "HKLM\Software\vorlane" /v LogDebug
  btutil reg query "HKCU\Software\Vorlane" /s
  btutil reg query "HKLM\Software\vorlane" /v LogDebug --json
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
  /y        overwrite FILE if it exists; without it an existing file is an error.
            /y goes after KEY and FILE.

A REG_SZ that the quoted form would not give back byte for byte (no
terminator, a NUL or a line break inside) is written as hex(1):..., so that
an import restores it exactly; reg writes such a string quoted, up to its
first NUL.

Example:
  btutil reg export "HKLM\Software\vorlane" vorlane.reg
)";

constexpr std::string_view kRegImport = R"(Usage: btutil reg import FILE

Applies a registry file as reg.exe reads it. "Windows Registry Editor Version
5.00" files come in UTF-16 with its byte order mark, or in UTF-8 without one
(a file that starts with a UTF-8 byte order mark is refused). "REGEDIT4"
files are ANSI: read as UTF-8 when the bytes are valid UTF-8, otherwise as
Windows-1252, and their hex(1), hex(2) and hex(7) data become UTF-16. Other
headers that start with REGEDIT ("REGEDIT 4", "REGEDIT4 FOO"...) are accepted
and nothing of the file is read, as reg.exe does. [KEY] creates a key, [-KEY]
deletes one with its tree (values after it are ignored), "name"=- deletes a
value; lines starting with ; or # are comments, and ; starts one after data.
In quoted texts \\ is a backslash, \" a quote, \n and \r line breaks.
hex(2) and hex(7) data get their final NUL when they lack it; hex(1) data do
not (reg.exe adds one): such strings stay exactly as export writes them.

Unlike reg.exe, which skips a malformed line and imports the rest, btutil
imports a file whole or not at all: it lists every line reg.exe would skip,
with its number and why, and imports nothing. It also refuses what reg.exe
would store mangled: an unknown escape such as \T in "C:\Temp" (reg.exe drops
the backslash). A "REGEDIT" (Windows 3.1) file can only set HKEY_CLASSES_ROOT,
which this registry does not hold: its lines are refused. Each store takes its
part of the file in one transaction.

Example:
  btutil reg import vorlane.reg
)";

constexpr HelpTopic kTopics[] = {{"reg", kReg},
                                 {"reg add", kRegAdd},
                                 {"reg query", kRegQuery, "found: the key or value is printed", "not found"},
                                 {"reg delete", kRegDelete},
                                 {"reg export", kRegExport},
                                 {"reg import", kRegImport}};

}  // namespace

std::span<const HelpTopic> regHelp() { return kTopics; }

}  // namespace utils::btutil
