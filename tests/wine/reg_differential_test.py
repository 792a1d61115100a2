#!/usr/bin/env python3
"""btutil reg and Wine's reg.exe side by side.

Runs the same generated commands and registry files through both: Wine's reg
on a scratch key of the test prefix, the Linux btutil on scratch store files.
Compares the exit code (both answer 0 or 1), the text of a successful query (line ends normalised) and the bytes that export
writes; at the end every case's keys as each side exports them.

Usage: reg_differential_test.py WINE BTUTIL   (WINEPREFIX names the prefix)
"""
import concurrent.futures
import os
import re
import subprocess
import sys
import tempfile

SCRATCH = r"Software\UtilsRegDiff"
ROOT = "HKCU\\" + SCRATCH
FULL = "HKEY_CURRENT_USER\\" + SCRATCH
HEADER = "Windows Registry Editor Version 5.00"


def search_line(text):
    return re.sub(r"Search complete\. Number of matches found: (\d+)", r"End of search: \1 match(es) found.", text)


# Where Wine's reg differs from Windows' reg.exe: the case, why, and either a
# rewrite of Wine's answer into what Windows gives (the rest is compared) or
# None (the case must still differ, or the entry is stale).
WINE_DEVIATIONS = {
    "q_search": ("Windows ends a /s search with \"End of search: N match(es) found.\"", search_line),
    "q_search_none": ("the same closing line of a search", search_line),
    "q_search_default": ("the same closing line of a search", search_line),
    "q_null": ("Wine 8 prints \"(null)\" for REG_QWORD data and for a type it has no name for, "
               "where Windows prints the number", None),
    "x_short_dword": ("Wine reads four bytes of a two-byte REG_DWORD (bytes past the data); "
                      "its answer changes from run to run", None),
    "k_order_underscore": ("Windows orders subkeys by their upper-case names (\"B\" before \"_\"); "
                           "Wine by lower-case names", None),
    "a_trailing_slash": ("Windows refuses a key path that ends with a backslash; Wine adds the key", None),
}

# Differences that are ours by design: the case and the reason.
ALL_OR_NOTHING = "import is all or nothing: a malformed line refuses the whole file and imports nothing"
REFUSED_ADD = "a refused add changes nothing; reg creates the key before it checks the data"
DOCUMENTED = {
    "i_regedit4_utf8": ("on Linux a REGEDIT4 file is read as UTF-8 when its bytes are valid UTF-8", None),
    "i_malformed_line": (ALL_OR_NOTHING, None),
    # Continuations reg reads as a malformed value line, skipped (the key stays).
    "i_cont_comma": (ALL_OR_NOTHING, None),
    "i_cont_lone": (ALL_OR_NOTHING, None),
    "i_cont_no_comma": (ALL_OR_NOTHING, None),
    "a_dword_nodata": (REFUSED_ADD, None),
    "a_dword_big": (REFUSED_ADD, None),
    "a_bad_type": (REFUSED_ADD, None),
    "e_hex1": ("export writes hex(1) for a string that the quoted form would not give back exactly "
               "(no bytes, no terminator, a NUL inside); reg writes it quoted up to its first NUL", None),
}


class Case:
    def __init__(self, name, op, args, file=None, compare_out=False, setup=None):
        self.name, self.op, self.args, self.file = name, op, args, file
        self.compare_out, self.setup = compare_out, setup
        self.key = ROOT + "\\" + name
        self.answers = {}


def reg_file(body, header=HEADER, encoding="utf-16", eol="\r\n"):
    """A registry file: header, blank line, body; KEY stands for the case's key."""
    boms = {"utf-16": (b"\xff\xfe", "utf-16-le"), "utf-8-sig": (b"\xef\xbb\xbf", "utf-8"),
            "utf-16-be-bom": (b"\xfe\xff", "utf-16-be")}
    bom, codec = boms.get(encoding, (b"", encoding))
    return bom + (header + "\n\n" + body).replace("\n", eol).encode(codec)


def hex_bytes(data):
    return ",".join("%02x" % b for b in data)


def add_cases():
    rows = [  # name, switches after KEY
        ("a_sz", ["/v", "V", "/d", "text"]),
        ("a_sz_empty", ["/v", "V", "/d", ""]),
        ("a_sz_nodata", ["/v", "V"]),
        ("a_key_only", []),
        ("a_default", ["/ve", "/d", "d"]),
        ("a_default_typed", ["/t", "REG_DWORD", "/d", "7"]),
        ("a_expand", ["/v", "V", "/t", "REG_EXPAND_SZ", "/d", "%PATH%;x"]),
        ("a_multi", ["/v", "V", "/t", "REG_MULTI_SZ", "/d", r"a\0b"]),
        ("a_multi_trailing", ["/v", "V", "/t", "REG_MULTI_SZ", "/d", r"a\0"]),
        ("a_multi_lone", ["/v", "V", "/t", "REG_MULTI_SZ", "/d", r"\0"]),
        ("a_multi_sep", ["/v", "V", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#b#"]),
        ("a_multi_sep_long", ["/v", "V", "/t", "REG_MULTI_SZ", "/s", "ab", "/d", "xaby"]),
        ("a_dword", ["/v", "V", "/t", "REG_DWORD", "/d", "16"]),
        ("a_dword_hex", ["/v", "V", "/t", "REG_DWORD", "/d", "0xffffffff"]),
        ("a_dword_nodata", ["/v", "V", "/t", "REG_DWORD"]),
        ("a_dword_big", ["/v", "V", "/t", "REG_DWORD", "/d", "4294967296"]),
        ("a_dword_le", ["/v", "V", "/t", "REG_DWORD_LITTLE_ENDIAN", "/d", "2"]),
        ("a_dword_be", ["/v", "V", "/t", "REG_DWORD_BIG_ENDIAN", "/d", "258"]),
        ("a_qword", ["/v", "V", "/t", "REG_QWORD", "/d", "0x100000000"]),
        ("a_qword_minus", ["/v", "V", "/t", "REG_QWORD", "/d", "-1"]),
        ("a_binary", ["/v", "V", "/t", "REG_BINARY", "/d", "0a0B0c"]),
        ("a_binary_odd", ["/v", "V", "/t", "REG_BINARY", "/d", "abc"]),
        ("a_binary_empty", ["/v", "V", "/t", "REG_BINARY"]),
        ("a_none_text", ["/v", "V", "/t", "REG_NONE", "/d", "text"]),
        ("a_none_nodata", ["/v", "V", "/t", "REG_NONE"]),
        ("a_bad_type", ["/v", "V", "/t", "REG_WHAT", "/d", "1"]),
        ("a_names", ["/v", "a\\\"b\\", "/d", "c\"\\d"]),
        ("a_huge", ["/v", "H" * 255, "/d", "x" * 20000]),
    ]
    cases = [Case(name, "add", ["{K}"] + args + ["/f"]) for name, args in rows]
    cases.append(Case("a_trailing_slash", "add", ["{K}\\", "/v", "V", "/d", "x", "/f"]))
    cases.append(Case("a_root_only", "add", ["HKCU\\", "/v", "UtilsRegDiffRoot", "/d", "x", "/f"]))
    return cases


def import_cases():
    v = '[KEY]\n"V"="x"\n'
    rows = [  # name, body, header, encoding, line end
        ("i_v5_utf16", v, HEADER, "utf-16", "\r\n"),
        ("i_v5_utf8", v, HEADER, "utf-8", "\n"),
        ("i_v5_utf8_bom", v, HEADER, "utf-8-sig", "\r\n"),
        ("i_v5_utf16be", v, HEADER, "utf-16-be-bom", "\r\n"),
        ("i_regedit4_utf8_bom", v, "REGEDIT4", "utf-8-sig", "\r\n"),
        ("i_regedit4_ansi", '[KEY]\n"V"="caf\u00e9"\n', "REGEDIT4", "cp1252", "\r\n"),
        ("i_regedit4_utf8", '[KEY]\n"V"="caf\u00e9"\n', "REGEDIT4", "utf-8", "\n"),
        ("i_regedit", v, "REGEDIT", "utf-8", "\r\n"),
        ("i_regedit3", v, "REGEDIT3", "utf-8", "\r\n"),
        ("i_regedit_space_4", v, "REGEDIT 4", "utf-8", "\r\n"),
        ("i_regedit4_foo", v, "REGEDIT4 FOO", "utf-8", "\r\n"),
        ("i_no_header", v, "", "utf-8", "\r\n"),
        ("i_comments", '; whole line\n# hash line\n[KEY]\n;inside\n"V"="x" ;after\n"D"=dword:00001234 ;c\n', HEADER,
         "utf-16", "\r\n"),
        ("i_comment_after_cont", '[KEY]\n"V"=hex:01,02,\\ ;c\n  03\n', HEADER, "utf-16", "\r\n"),
        ("i_comment_in_hex", '[KEY]\n"V"=hex:01,\\\n; c\n  02\n', HEADER, "utf-16", "\r\n"),
        ("i_cont_comma", '[KEY]\n"V"=hex:01\\\n,02\n', HEADER, "utf-16", "\r\n"),
        ("i_cont_lone", '[KEY]\n"V"=hex:01,\\\n\\\n  02\n', HEADER, "utf-16", "\r\n"),
        ("i_cont_blank", '[KEY]\n"V"=hex:01,\\\n\n  02\n', HEADER, "utf-16", "\r\n"),
        ("i_cont_blankish", '[KEY]\n"V"=hex:01,\\\n   \t\n  02\n', HEADER, "utf-16", "\r\n"),
        ("i_cont_last", '[KEY]\n"V"=hex:01,02,\\', HEADER, "utf-16", "\r\n"),
        ("i_cont_no_comma", '[KEY]\n"V"=hex:01\\\n  02\n', HEADER, "utf-16", "\r\n"),
        ("i_dword_space", '[KEY]\n"V"=dword: 00000010\n', HEADER, "utf-16", "\r\n"),
        ("i_hex2_no_nul", '[KEY]\n"V"=hex(2):41,00\n', HEADER, "utf-16", "\r\n"),
        ("i_hex7_no_nul", '[KEY]\n"V"=hex(7):41,00,00,00\n', HEADER, "utf-16", "\r\n"),
        ("i_after_delete", '[KEY]\n"K"="x"\n[-KEY\\gone]\n"V"="x"\n', HEADER, "utf-16", "\r\n"),
        ("i_key_backslashes", '[KEY\\sub\\\\]\n"V"="x"\n', HEADER, "utf-16", "\r\n"),
        ("i_names", '[KEY\\a"b]\n@="def"\n"q\\"u\\\\o"="s\\"t\\\\r"\n"e"=""\n', HEADER, "utf-16", "\r\n"),
        ("i_types", '[KEY]\n"n"=hex(0):01\n"s"=hex(1):41,00,00,00\n"b"=hex(3):01\n"d"=hex(4):01,02,03,04\n'
         '"be"=hex(5):01,02,03,04\n"q"=hex(b):01,00,00,00,00,00,00,00\n"u"=hex(100):ff\n"z"=hex:\n'
         '"gone"=-\n', HEADER, "utf-16", "\r\n"),
        ("i_malformed_line", '[KEY]\n"V"=dword:zz\n"W"="x"\n', HEADER, "utf-16", "\r\n"),
        ("i_huge", '[KEY]\n"B"=hex:' + hex_bytes(bytes(range(256)) * 64) + '\n"S"="' + "y" * 8000 + '"\n',
         HEADER, "utf-16", "\r\n"),
    ]
    cases = []
    for name, body, header, encoding, eol in rows:
        case = Case(name, "import", ["{F}"])
        case.file = reg_file(body.replace("KEY", FULL + "\\" + name), header, encoding, eol)
        cases.append(case)
    return cases


# What the query, export and delete cases start from: one file imported by both.
FIXTURE = """[KEY\\q]
"A"="top"
"B"=dword:00000123
[KEY\\q\\s1]
"A"=hex(7):78,00,00,00,79,00,00,00,00,00
"E"=hex(2):25,00,50,00,25,00,00,00
[KEY\\q\\s1\\deep]
@="d"
"N"=hex(0):01,02
"R"=hex:de,ad
"X"=hex(5):00,00,01,02
[KEY\\q_null]
"Q"=hex(b):01,02,03,04,05,06,07,08
"U"=hex(20):ff
[KEY\\q\\empty]
[KEY\\sub_only\\k1]
[KEY\\sub_only\\k2\\k3]
[KEY\\x_short_dword]
"D"=hex(4):01,02
[KEY\\k_order_underscore\\B]
[KEY\\k_order_underscore\\_]
[KEY\\x_strings]
"Empty"=""
"Quote\\"d\\\\"="a\\"b\\\\c"
[KEY\\e_wrap]
"A value name long enough to push its data past where the line breaks"=hex:""" + hex_bytes(range(100)) + """
"B"=hex(2):""" + hex_bytes("%SystemRoot%\\system32;%ProgramFiles%\\Vorlane\\bin\0".encode("utf-16-le")) + """
"C"=hex:""" + hex_bytes(range(24)) + """
"D"=hex:""" + hex_bytes(range(22)) + """
[KEY\\e_hex1]
"Empty"=hex(1):
"Nul"=hex(1):41,00,00,00,42,00,00,00
"Open"=hex(1):41,00
[KEY\\d_value]
"V"="x"
"W"="y"
[KEY\\d_tree\\sub]
"V"="x"
"""


def fixture_cases():
    q = ROOT + "\\q"
    rows = [  # name, args, compare standard output
        ("q_key", [q], True),
        ("q_subkeys_only", [ROOT + "\\sub_only"], True),
        ("q_empty", [q + "\\empty"], True),
        ("q_tree", [q, "/s"], True),
        ("q_tree_no_values", [ROOT + "\\sub_only\\", "/s"], True),
        ("q_types", [q + "\\s1\\deep"], True),
        ("q_value", [q, "/v", "a"], True),
        ("q_default", [q + "\\s1\\deep", "/ve"], True),
        ("q_default_unset", [q, "/ve"], True),
        ("q_search", [q, "/v", "A", "/s"], True),
        ("q_search_none", [q, "/v", "Missing", "/s"], True),
        ("q_search_default", [q, "/ve", "/s"], True),
        ("q_missing_value", [q, "/v", "Missing"], False),
        ("q_missing_key", [q + "\\nope"], False),
        ("q_twice", [q, "/s", "/s"], False),
        ("x_short_dword", [ROOT + "\\x_short_dword"], True),
        ("q_null", [ROOT + "\\q_null"], True),
        ("q_strings", [ROOT + "\\x_strings"], True),
        ("q_case", ["hkey_current_user\\SOFTWARE\\utilsregdiff\\Q\\S1", "/s"], True),
        ("q_wrap", [ROOT + "\\e_wrap"], True),
        ("k_order_underscore", [ROOT + "\\k_order_underscore"], True),
    ]
    cases = [Case(name, "query", args, compare_out=out) for name, args, out in rows]
    # Without /y reg asks before it overwrites a file (btutil refuses instead);
    # Wine's reg asks again and again when nobody answers: not run here.
    exports = [  # name, args, an existing file first
        ("e_tree", [q, "{F}"], False),
        ("e_strings", [ROOT + "\\x_strings", "{F}"], False),
        ("e_null", [ROOT + "\\q_null", "{F}"], False),
        ("e_hex1", [ROOT + "\\e_hex1", "{F}"], False),
        ("e_wrap", [ROOT + "\\e_wrap", "{F}"], False),
        ("e_case", ["hkcu\\software\\UTILSREGDIFF\\q\\S1", "{F}"], False),
        ("e_empty_key", [q + "\\empty", "{F}"], False),
        ("e_exists_y", [q, "{F}", "/y"], True),
        ("e_y_first", [q, "/y", "{F}"], False),
        ("e_y_before_key", ["/y", q, "{F}"], False),
        ("e_missing_key", [q + "\\nope", "{F}"], False),
    ]
    cases += [Case(name, "export", args, setup=b"old" if exists else None) for name, args, exists in exports]
    cases += [
        Case("d_value", "delete", [ROOT + "\\d_value", "/v", "V", "/f"]),
        Case("d_tree", "delete", [ROOT + "\\d_tree", "/f"]),
        Case("d_missing", "delete", [ROOT + "\\d_value", "/v", "Missing", "/f"]),
    ]
    return cases


class Side:
    def __init__(self, name, command, folder, env):
        self.name, self.command, self.folder, self.env = name, command, folder, env
        os.makedirs(folder)

    def reg(self, args):
        # Output goes to a file, not a pipe: a Wine service process that a command
        # starts inherits its handles and would hold a pipe open.
        with tempfile.TemporaryFile() as out:
            code = subprocess.run(self.command + args, cwd=self.folder, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.DEVNULL, timeout=120).returncode
            out.seek(0)
            return code, out.read().decode("utf-8", "replace").replace("\r\n", "\n")

    def run(self, case):
        file = os.path.join(self.folder, case.name + ".reg")
        for content in (case.file, case.setup):
            if content is not None:
                with open(file, "wb") as out:
                    out.write(content)
        args = [a.replace("{K}", case.key).replace("{F}", case.name + ".reg") for a in case.args]
        code, out = self.reg([case.op] + args)
        exported = None
        if case.op == "export" and os.path.exists(file):
            with open(file, "rb") as f:
                exported = f.read()
        case.answers[self.name] = (code, out, exported)

    def sections(self):
        """Every case's part of the exported scratch key, by case name."""
        code, _ = self.reg(["export", ROOT, "all.reg", "/y"])
        if code != 0:
            return {}
        with open(os.path.join(self.folder, "all.reg"), "rb") as f:
            text = f.read().decode("utf-16")
        parts = {}
        for block in text.split("\r\n\r\n"):
            match = re.match(r"\[" + re.escape(FULL) + r"\\([^\\\]]+)", block)
            if match:
                parts.setdefault(match.group(1), []).append(block)
        return parts


def compare(wine, btutil, work):
    env = dict(os.environ, UTILS_REGISTRY_USER=work + "/user.db", UTILS_REGISTRY_MACHINE=work + "/machine.db",
               UTILS_DEBUG_OUTPUT=work + "/debug.log")
    sides = [Side("wine", [wine, "reg"], work + "/wine", env), Side("btutil", [btutil, "reg"], work + "/btutil", env)]
    clean = (["delete", ROOT, "/f"], ["delete", "HKCU", "/v", "UtilsRegDiffRoot", "/f"])
    for args in clean:
        sides[0].reg(args)
    fixture = Case("fixture", "import", ["{F}"], file=reg_file(FIXTURE.replace("KEY", FULL)))
    cases = add_cases() + import_cases() + fixture_cases()
    for side in sides:
        side.run(fixture)
        if fixture.answers[side.name][0] != 0:
            print("FAIL: the fixture does not import with " + side.name)
            return 1
    # Each case has keys and files of its own: Wine's side runs several at a time.
    with concurrent.futures.ThreadPoolExecutor(max_workers=3) as pool:
        list(pool.map(sides[0].run, cases))
    for case in cases:
        sides[1].run(case)
    stored = [side.sections() for side in sides]
    for args in clean:
        sides[0].reg(args)

    failed = deviations = 0
    for case in cases:
        (wcode, wout, wfile), (ucode, uout, ufile) = case.answers["wine"], case.answers["btutil"]
        deviation = WINE_DEVIATIONS.get(case.name) or DOCUMENTED.get(case.name)
        if deviation and deviation[1]:
            fixed = deviation[1](wout)
            if fixed == wout:
                print("FAIL: %s: the listed deviation no longer shows (%s)" % (case.name, deviation[0]))
                failed += 1
            wout = fixed
        problems = []
        if wcode != ucode:
            problems.append("exit status: wine %d, btutil %d" % (wcode, ucode))
        if case.compare_out and wcode == 0 and ucode == 0 and wout != uout:
            problems.append("output:\n--- wine\n%s--- btutil\n%s" % (wout, uout))
        if wfile != ufile:
            problems.append("exported file:\n--- wine\n%r\n--- btutil\n%r" % (wfile, ufile))
        wkeys, ukeys = stored[0].get(case.name, []), stored[1].get(case.name, [])
        if wkeys != ukeys:
            problems.append("stored:\n--- wine\n%s\n--- btutil\n%s" % ("\n\n".join(wkeys), "\n\n".join(ukeys)))
        if deviation and deviation[0] == ALL_OR_NOTHING and (ucode == 0 or ukeys):
            problems.append("btutil imported part of a file it refused")
            deviation = None
        if deviation and not deviation[1]:
            if problems:
                deviations += 1
                print("deviation %s: %s" % (case.name, deviation[0]))
            else:
                print("FAIL: %s: listed as a deviation but both agree" % case.name)
                failed += 1
        elif problems:
            failed += 1
            print("FAIL: %s: reg %s %s\n  %s" % (case.name, case.op, " ".join(case.args), "\n  ".join(problems)))
    print("reg differential: %d cases, %d listed deviations, %d differences" % (len(cases), deviations, failed))
    return 1 if failed else 0


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    wine, btutil = sys.argv[1:]
    if not os.access(btutil, os.X_OK):
        print("SKIP: no Linux btutil at " + btutil)
        return 77
    with tempfile.TemporaryDirectory(prefix="reg_differential_", ignore_cleanup_errors=True) as work:
        return compare(wine, btutil, work)


if __name__ == "__main__":
    sys.exit(main())
