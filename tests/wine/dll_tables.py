#!/usr/bin/env python3
"""The export and import tables of a PE DLL as objdump -p shows them. As a
program it checks them: the exports must be exactly the names of a list file (one
a line, # comments), every imported DLL one of those allowed (case ignored; the
compiler's runtime is linked in statically).

Usage: dll_tables.py OBJDUMP DLL EXPORT_LIST ALLOWED_IMPORT...
"""
import re
import subprocess
import sys


def dll_tables(objdump, dll):
    """The DLL's export names and the names of the DLLs it imports from."""
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    exports, imports, in_names = [], [], False
    for line in dump.splitlines():
        name = re.match(r"\s+\[ *\d+\] (.+)$", line)
        if in_names and name:
            exports.append(name.group(1))
        else:
            in_names = line.startswith("[Ordinal/Name Pointer] Table")
        imported = re.match(r"\s*DLL Name: (.+)$", line)
        if imported:
            imports.append(imported.group(1))
    return exports, imports


def main(objdump, dll, export_list, *allowed):
    exports, imports = dll_tables(objdump, dll)
    with open(export_list) as listed:
        expected = {line.strip() for line in listed if line.strip() and not line.strip().startswith("#")}
    problems = ["not exported but listed: " + name for name in sorted(expected - set(exports))]
    problems += ["exported but not listed: " + name for name in sorted(set(exports) - expected)]
    problems += ["no export table found"] if not exports else []
    allowed = {name.upper() for name in allowed}
    problems += ["imports %s, which is not a system DLL" % name for name in imports if name.upper() not in allowed]
    print("\n".join(problems) or "%s: %d exports as listed; imports %s" % (dll, len(exports), " ".join(imports)))
    return 1 if problems else 0


if __name__ == "__main__":
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
