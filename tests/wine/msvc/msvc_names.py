#!/usr/bin/env python3
"""The names under which callers built with Microsoft's compiler import the
members of the exported classes of a public header, as clang targeting that ABI
mangles them; optionally checked against a DLL's export table.

  msvc_names.py --clang CLANG --include DIR --header utils/xml.h --class XmlObject
                [--sysroot-include DIR ...] [--objdump OBJDUMP --dll utils.dll]

Prints one name per line. With --dll, exits 1 and lists every name the DLL does
not export.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from dll_tables import dll_tables  # noqa: E402


def ast_documents(text):
    """The JSON documents of an -ast-dump=json -ast-dump-filter output."""
    decoder = json.JSONDecoder()
    position = 0
    while True:
        while position < len(text) and text[position] != "{":
            position += 1
        if position >= len(text):
            return
        document, position = decoder.raw_decode(text, position)
        yield document


def class_names(documents, class_name):
    names = set()
    for document in documents:
        if document.get("kind") != "CXXRecordDecl" or document.get("name") != class_name:
            continue
        if not document.get("completeDefinition"):
            continue
        has_virtual = False
        for member in document.get("inner", []):
            kind = member.get("kind")
            if kind not in ("CXXMethodDecl", "CXXConstructorDecl", "CXXDestructorDecl"):
                continue
            if member.get("isImplicit") or member.get("explicitlyDeleted"):
                continue
            if member.get("virtual"):
                has_virtual = True
            names.add(member["mangledName"])
            if kind == "CXXDestructorDecl":
                # Callers call the base-object destructor of a class without
                # virtual bases; clang's dump names the complete-object one.
                names.add("??1%s@@QEAA@XZ" % class_name)
            parameters = [p for p in member.get("inner", []) if p.get("kind") == "ParmVarDecl"]
            if kind == "CXXConstructorDecl" and all("init" in p for p in parameters):
                # The default-construction entry of an exported class.
                names.add("??_F%s@@QEAAXXZ" % class_name)
        if has_virtual:
            names.add("??_7%s@@6B@" % class_name)
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--clang", required=True)
    parser.add_argument("--include", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--class", dest="class_name", required=True)
    parser.add_argument("--sysroot-include", action="append", default=[])
    parser.add_argument("--objdump")
    parser.add_argument("--dll")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        probe = os.path.join(folder, "probe.cpp")
        with open(probe, "w") as out:
            out.write('#include "%s"\n' % args.header)
        command = [args.clang, "--target=x86_64-pc-windows-msvc", "-fms-compatibility", "-fms-extensions",
                   # The mingw-w64 headers need a GNU compiler (no __attribute__ otherwise).
                   "-fgnuc-version=4.2.1",
                   "-std=c++20", "-fsyntax-only", "-I", args.include]
        for folder_name in args.sysroot_include:
            command += ["-isystem", folder_name]
        command += ["-Xclang", "-ast-dump=json", "-Xclang", "-ast-dump-filter=" + args.class_name, probe]
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            sys.stderr.write(result.stderr)
            return 2

    names = class_names(ast_documents(result.stdout), args.class_name)
    if not names:
        sys.stderr.write("no members of %s found in %s\n" % (args.class_name, args.header))
        return 2
    for name in sorted(names):
        print(name)

    if args.dll:
        missing = sorted(names - set(dll_tables(args.objdump, args.dll)[0]))
        for name in missing:
            sys.stderr.write("not exported: %s\n" % name)
        if missing:
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
