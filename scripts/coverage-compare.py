#!/usr/bin/env python3
"""Lines and branches that one coverage run reached and another did not.

    scripts/coverage-compare.py BEFORE.json AFTER.json

Both files come from scripts/coverage.sh --json over the same sources. Prints
every line and branch of src/ and tools/ that BEFORE covered and AFTER did not,
then the totals of both; exits 1 when anything was lost. Lines are matched by
file and line number, so compare runs over
the same library and tool sources (tests may differ freely).
"""
import json
import sys


def covered(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    lines, branches = set(), set()
    for entry in data["files"]:
        name = entry["file"]
        for line in entry["lines"]:
            if line.get("gcovr/noncode"):
                continue
            number = line["line_number"]
            if line["count"] > 0:
                lines.add((name, number))
            for index, branch in enumerate(line.get("branches", [])):
                if branch["count"] > 0:
                    branches.add((name, number, index))
    return lines, branches


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    before_lines, before_branches = covered(sys.argv[1])
    after_lines, after_branches = covered(sys.argv[2])
    lost_lines = sorted(before_lines - after_lines)
    lost_branches = sorted(before_branches - after_branches)
    for name, number in lost_lines:
        print(f"line lost: {name}:{number}")
    for name, number, index in lost_branches:
        print(f"branch lost: {name}:{number} branch {index}")
    print(f"lines covered: {len(before_lines)} before, {len(after_lines)} after, "
          f"{len(lost_lines)} lost")
    print(f"branches covered: {len(before_branches)} before, {len(after_branches)} after, "
          f"{len(lost_branches)} lost")
    return 1 if lost_lines or lost_branches else 0


if __name__ == "__main__":
    sys.exit(main())
