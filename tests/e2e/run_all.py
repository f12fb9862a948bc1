#!/usr/bin/env python3
"""Runs every e2e test against the programs in the given directory.

The tests that spend their time waiting for the program's own clock (an
AutoSync minute, the soak's half minute) run beside the others, in groups, each
group in a Wine prefix and a network namespace of its own, so that their waits
overlap the rest of the tier instead of adding to it. Each group's tests still
run one after another: a Wine prefix holds one copy of the program at a time.
The rest runs in a network namespace of its own too (tests/own-network.sh),
so that no other program on this machine meets its ports 37 and 123.

    run_all.py BIN_DIR
"""
import os
import shutil
import subprocess
import sys
import time
import unittest

here = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(here))

# Two groups, each about as long as what stays: the waits, and beside them
# whole files of tests that wait on nothing but fill the group's time.
BESIDE = (
    ("test_soak.",
     "test_pendulark_options.PendularkOptions.test_autosync_due_under_options_starts_when_it_closes",
     "test_pendulark_time_server.", "test_pendulark_startup.", "test_pendulark_tray."),
    ("test_pendulark_window.PendularkWindow.test_a_failed_sync_after_a_resume_is_tried_again_within_minutes",
     "test_pendulark_options.PendularkOptions.test_a_reset_autosync_leaves_no_countdown_behind",
     "test_pendulark_service.", "test_installer.", "test_pendulark_time_zone."),
)
BESIDE_SWITCH = "--beside"
OWN_NETWORK = os.path.join(ROOT, "tests", "own-network.sh")


class TimedResult(unittest.TextTestResult):
    """Says how long each test took, so that the next slow one shows itself."""

    def startTest(self, test):
        self.started = time.monotonic()
        super().startTest(test)

    def stopTest(self, test):
        super().stopTest(test)
        self.stream.writeln(f"    {time.monotonic() - self.started:.1f} s")


def tests_of(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from tests_of(item)
        else:
            yield item


def group_of(test):
    """The number of the group beside the rest that the test belongs to, or None."""
    for number, group in enumerate(BESIDE):
        if test.id().startswith(group):
            return number
    return None


def shard(suite, group):
    tests = [test for test in tests_of(suite) if group_of(test) == group]
    if group is not None:
        # In the group's own order: its waits first, then the files that fill
        # its time, so that what a setup leaves in the prefix meets no wait.
        tests.sort(key=lambda test: next(n for n, start in enumerate(BESIDE[group]) if test.id().startswith(start)))
    return unittest.TestSuite(tests)


def start_beside(bin_dir, group):
    """A group, in a network namespace with only loopback up, so that its
    programs' servers on ports 37 and 123 meet none of the others'."""
    env = dict(os.environ, WINE_ROOT=os.path.join(ROOT, "build", f"wine-beside{group}"))
    log = open(os.path.join(ROOT, "build", f"e2e-beside{group}.log"), "w+")
    process = subprocess.Popen([OWN_NETWORK, sys.executable, os.path.abspath(__file__), BESIDE_SWITCH, str(group),
                                bin_dir], env=env, stdout=log, stderr=subprocess.STDOUT)
    return process, log


def end_beside(process, log):
    try:
        code = process.wait(timeout=900)
    except subprocess.TimeoutExpired:
        process.kill()
        code = process.wait(timeout=30)
    log.seek(0)
    print("\ntests run beside the others, in a prefix and a network of their own:", flush=True)
    print(log.read(), flush=True)
    log.close()
    return code


def main():
    args = sys.argv[1:]
    group = None
    if len(args) == 3 and args[0] == BESIDE_SWITCH:
        group = int(args[1])
        args = args[2:]
    beside = group is not None
    if len(args) != 1:
        sys.exit("usage: run_all.py BIN_DIR")
    bin_dir = os.path.abspath(args[0])
    for program in ("Pendulark.exe", "Sumwick.exe", "winctl.exe"):
        if not os.path.isfile(os.path.join(bin_dir, program)):
            sys.exit(f"e2e tier cannot run: {program} is not in {bin_dir}")
    if not shutil.which("wine") and not os.path.exists("/usr/lib/wine/wine64"):
        sys.exit("e2e tier cannot run: Wine is not installed")
    if not beside and not shutil.which("unshare"):
        sys.exit("e2e tier cannot run: unshare (util-linux) is not installed")
    os.environ["PENDULARK_BIN"] = bin_dir
    sys.path.insert(0, here)
    import harness
    if beside:
        # Directories of their own: both shards have tests that use the same names.
        harness.SCRATCH += f"-beside{group}"
    suite = unittest.defaultTestLoader.discover(here, pattern="test_*.py")
    if suite.countTestCases() == 0:
        sys.exit("e2e tier found no tests")
    suite = shard(suite, group)
    others = []
    if not beside:
        others = [start_beside(bin_dir, number) for number in range(len(BESIDE))]
    harness.start_wine()
    try:
        result = unittest.TextTestRunner(verbosity=2, resultclass=TimedResult).run(suite)
    finally:
        harness.stop_wine()
        codes = [end_beside(*other) for other in others]
    for number, code in enumerate(codes):
        if code != 0:
            print(f"the tests run beside in group {number} failed (exit code {code})")
    sys.exit(0 if result.wasSuccessful() and not any(codes) else 1)


if __name__ == "__main__":
    main()
