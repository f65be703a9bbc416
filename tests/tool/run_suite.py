#!/usr/bin/env python3
"""Runs one suite of the quarrow2 tool's tests for CTest.

Exit status: 0 when the suite passed, 1 when a test failed or nothing ran, 77 when every
test was skipped (CTest then reports the suite as skipped; the reasons are in the output).
"""
import os
import sys
import unittest

SKIPPED = 77


def main():
    if len(sys.argv) != 2:
        print("usage: run_suite.py MODULE", file=sys.stderr)
        return 1
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    suite = unittest.defaultTestLoader.loadTestsFromName(sys.argv[1])
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    if not result.wasSuccessful():
        return 1
    if result.skipped and len(result.skipped) >= result.testsRun:
        return SKIPPED
    if result.testsRun == 0:
        print("no test ran", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
