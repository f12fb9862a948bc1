"""Thirty seconds of the soak script (tests/soak/soak.py): the program under
AutoSync against a rotating server, its time server asked every second, Options
and the tray in use, every client answered and reported, and a clean end. The
long run, which judges growth, is `make soak`."""
import os
import subprocess
import sys
import unittest

import harness

SCRIPT = os.path.join(harness.ROOT, "tests", "soak", "soak.py")


class PendularkSoak(unittest.TestCase):
    def test_half_a_minute_of_use_loses_nothing_and_ends_cleanly(self):
        # A prefix of its own, since the script stops its Wine server at the end,
        # and a directory named after it, so that tiers run in other prefixes
        # never share the program's log.
        root = os.path.dirname(harness.wine_prefix())
        env = dict(os.environ, WINE_ROOT=root + "-soak")
        out = os.path.join(harness.SCRATCH, "soak-" + os.path.basename(root))
        done = subprocess.run([sys.executable, SCRIPT, harness.bin_dir(), "--smoke", "30", "--out", out],
                              env=env, capture_output=True, text=True, timeout=600)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


if __name__ == "__main__":
    unittest.main()
