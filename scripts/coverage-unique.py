#!/usr/bin/env python3
"""What each test alone reaches: the lines and branches of src/ and tools/ that
no other test of the selection reaches.

    sh scripts/coverage.sh 'REGEX'               # builds and warms build-coverage
    scripts/coverage-unique.py 'REGEX' [BUILD]   # BUILD: build-coverage

Runs every test that ctest -R REGEX selects on its own, each GoogleTest case of a
program separately, each from fresh counters, and lists the tests from the one
that reaches least on its own upwards. A test with 0 and 0 reaches nothing the
others do not: a candidate for merging or deletion, not proof that it checks
nothing (coverage says what ran, not what was asserted). Branches that depend on
thread timing come and go between runs. Slow: one gcovr run per test.
"""
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from importlib import import_module

covered = import_module("coverage-compare").covered


def ctest_tests(build, regex):
    listing = subprocess.run(["ctest", "--test-dir", build, "-R", regex, "--show-only=json-v1"],
                             capture_output=True, text=True, check=True).stdout
    for test in json.loads(listing)["tests"]:
        properties = {p["name"]: p["value"] for p in test.get("properties", [])}
        env = dict(os.environ)
        for assignment in properties.get("ENVIRONMENT", []):
            name, _, value = assignment.partition("=")
            env[name] = value
        yield test["name"], test["command"], properties.get("WORKING_DIRECTORY", build), env


def units(build, regex):
    """(label, command, folder, environment) for every test case to run alone."""
    for name, command, folder, env in ctest_tests(build, regex):
        listed = subprocess.run(command + ["--gtest_list_tests"], capture_output=True, text=True, cwd=folder,
                                env=env)
        if listed.returncode != 0 or not listed.stdout.strip():
            yield name, command, folder, env  # not a GoogleTest program: the whole test
            continue
        suite = None
        for line in listed.stdout.splitlines():
            if not line.strip() or line.startswith("Running main()"):
                continue
            if not line.startswith(" "):
                suite = line.split()[0]
            else:
                case = suite + line.split()[0]
                yield f"{name} {case}", command + ["--gtest_filter=" + case], folder, env


def reach(root, build, command, folder, env, json_path):
    for base, _, files in os.walk(build):
        for file in files:
            if file.endswith(".gcda"):
                os.remove(os.path.join(base, file))
    subprocess.run(command, cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=600)
    subprocess.run(["gcovr", "--root", root, "--object-directory", build, "--filter", "src/", "--filter", "tools/",
                    "--exclude-unreachable-branches", "--exclude-throw-branches", "--json", json_path, build],
                   cwd=root, check=True, stdout=subprocess.DEVNULL)
    return covered(json_path)


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = os.path.abspath(sys.argv[2] if len(sys.argv) == 3 else os.path.join(root, "build-coverage"))
    reached = {}
    with tempfile.TemporaryDirectory() as scratch:
        for index, (label, command, folder, env) in enumerate(units(build, sys.argv[1])):
            reached[label] = reach(root, build, command, folder, env, os.path.join(scratch, f"{index}.json"))
            print(f"ran {label}", file=sys.stderr, flush=True)
    rows = []
    for label, (lines, branches) in reached.items():
        other_lines, other_branches = set(), set()
        for other, (l, b) in reached.items():
            if other != label:
                other_lines |= l
                other_branches |= b
        rows.append((len(lines - other_lines), len(branches - other_branches), label))
    print("alone: lines branches  test")
    for lines, branches, label in sorted(rows):
        print(f"{lines:12} {branches:8}  {label}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
