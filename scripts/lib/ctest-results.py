#!/usr/bin/python3
"""The results of ctest runs, from the JUnit files ctest writes (--output-junit).

  ctest-results.py LABEL=FILE...

One line per test, its fields separated by tabs, since a parameterised GoogleTest's name holds
spaces ("... # GetParam() = ..."): LABEL, passed or failed, SECONDS, NAME. A test passed when
ctest ran it and recorded no failure; one that timed out, failed or did not run (a fixture it
needs failed) failed. A file that is missing or unreadable is one failed test named "(no results)".
"""
import sys
import xml.etree.ElementTree as ElementTree


def results(label, path):
    try:
        suite = ElementTree.parse(path).getroot()
    except (OSError, ElementTree.ParseError):
        print(f"{label}\tfailed\t0\t(no results)")
        return
    for case in suite.iter("testcase"):
        ran = case.get("status") == "run" and case.find("failure") is None
        seconds = float(case.get("time") or 0)
        print(f"{label}\t{'passed' if ran else 'failed'}\t{seconds:.1f}\t{case.get('name')}")


for argument in sys.argv[1:]:
    label, _, path = argument.partition("=")
    results(label, path)
