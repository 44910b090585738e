#!/usr/bin/python3
"""Fails unless every engine test belongs to exactly one ctest group.

The groups run the one test program with GoogleTest filters; a suite that no filter names
would silently never run.

Usage: check_groups.py TEST_PROGRAM FILTER...   (runs TEST_PROGRAM under wine)
"""
import fnmatch
import subprocess
import sys


def main():
    program, filters = sys.argv[1], sys.argv[2:]
    out = subprocess.run(["wine", program, "--gtest_list_tests"], check=True,
                         capture_output=True, text=True, stdin=subprocess.DEVNULL).stdout
    tests = []
    suite = None
    for line in out.splitlines():
        if not line.strip() or line.startswith("Running main()"):
            continue
        if not line.startswith(" "):
            suite = line.split("#")[0].strip()
        else:
            tests.append(suite + line.split("#")[0].strip())
    if not tests:
        print("no tests listed by", program)
        return 1
    bad = 0
    for test in tests:
        groups = [f for f in filters if any(fnmatch.fnmatchcase(test, p) for p in f.split(":"))]
        if len(groups) != 1:
            print("%s is in %d groups" % (test, len(groups)))
            bad += 1
    print("%d tests, %d not in exactly one group" % (len(tests), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
