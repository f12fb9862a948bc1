#!/usr/bin/env python3
"""Runs every e2e test against the programs in the given directory."""
import os
import shutil
import sys
import time
import unittest

here = os.path.dirname(os.path.abspath(__file__))


class TimedResult(unittest.TextTestResult):
    """Says how long each test took, so that the next slow one shows itself."""

    def startTest(self, test):
        self.started = time.monotonic()
        super().startTest(test)

    def stopTest(self, test):
        super().stopTest(test)
        self.stream.writeln(f"    {time.monotonic() - self.started:.1f} s")


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: run_all.py BIN_DIR")
    bin_dir = os.path.abspath(sys.argv[1])
    for program in ("Pendulark.exe", "Sumwick.exe", "winctl.exe"):
        if not os.path.isfile(os.path.join(bin_dir, program)):
            sys.exit(f"e2e tier cannot run: {program} is not in {bin_dir}")
    if not shutil.which("wine") and not os.path.exists("/usr/lib/wine/wine64"):
        sys.exit("e2e tier cannot run: Wine is not installed")
    os.environ["PENDULARK_BIN"] = bin_dir
    sys.path.insert(0, here)
    import harness
    suite = unittest.defaultTestLoader.discover(here, pattern="test_*.py")
    if suite.countTestCases() == 0:
        sys.exit("e2e tier found no tests")
    harness.start_wine()
    try:
        result = unittest.TextTestRunner(verbosity=2, resultclass=TimedResult).run(suite)
    finally:
        harness.stop_wine()
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
