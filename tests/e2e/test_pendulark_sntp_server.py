"""The time server's SNTP side as a real client sees it: chrony's chronyd, run
with -Q, measures a server and prints the offset, and never sets the clock.
It must refuse a Pendulark that has corrected nothing, and follow one that has,
within a millisecond on loopback."""
import os
import re
import subprocess
import unittest

import harness
from harness import ids

CHRONYD = os.path.join(harness.ROOT, "build", "chrony", "usr", "sbin", "chronyd")
SCRATCH = os.path.join(harness.SCRATCH, "chrony")
MEASURED = re.compile(rb"System clock wrong by (-?\d+\.\d+) seconds")


LAST_OUTPUT = [b""]


def chrony_offset(seconds, address="127.0.0.1"):
    """The offset chronyd -Q measures against port 123 of a loopback address within
    the given seconds, or None when it finds no server to follow. It ends as soon
    as it has measured."""
    os.makedirs(SCRATCH, exist_ok=True)
    done = subprocess.run([CHRONYD, "-Q", "-t", str(seconds), "-u", "root", "-f", "/dev/null",
                           f"pidfile {SCRATCH}/chronyd.pid", f"server {address} iburst maxsamples 1"],
                          capture_output=True, timeout=seconds + 30)
    LAST_OUTPUT[0] = done.stdout + done.stderr
    found = MEASURED.search(LAST_OUTPUT[0])
    return float(found.group(1)) if found else None


def closest_offset(address, within=0.001, tries=3):
    """The smallest offset chrony measures against the address, in up to three
    measurements, the first within the bound ending them: a busy host delays one
    way of a loopback exchange now and then, never the server's clock. Several
    seconds a try, so that chrony gets its samples at a pace the server's rate
    limit allows."""
    offsets = []

    def measured():
        offset = chrony_offset(8, address)
        if offset is not None:
            offsets.append(abs(offset))
        return offsets and (min(offsets) < within or len(offsets) >= tries)

    harness.wait_until(measured, 150, lambda: f"chrony never followed {address}: {LAST_OUTPUT[0]!r}")
    return min(offsets)


class PendularkSntpServer(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.access(CHRONYD, os.X_OK), "make test fetches chronyd into build/chrony")

    def test_chrony_refuses_an_unset_clock_and_follows_a_corrected_one(self):
        harness.open_pendulark(self, "sntp-unset", settings=dict(time_server_enabled=1))
        harness.wait_until(harness.time_server_answers, 20, "the time server never answered")
        self.assertIsNone(chrony_offset(6), "chrony followed a clock nobody set")
        harness.winctl("key", harness.WINDOW, hex(harness.VK_ESCAPE))
        harness.wait_until(lambda: harness.winctl("gone", harness.WINDOW, 0).returncode == 0, 30,
                           "the first program never ended")

        # Its own server waits for the ports the reference server holds, and
        # takes them once the correction is done and the reference is gone.
        address = "127.0.9.81"
        with harness.ReferenceServer(address):
            harness.open_pendulark(self, "sntp-corrected", servers=[address],
                                   settings=dict(time_server_enabled=1, protocol=harness.PROTOCOL_SNTP,
                                                 program_start_action=2, sync_timeout_seconds=10))
            harness.wait_for_text(harness.WINDOW, ids.IDT_MAIN_STATUS,
                                  lambda t: t.startswith(("Time Corrected", "Slewing by")))
        self.assertLess(closest_offset("127.0.0.1"), 0.001)
        self.assertLess(closest_offset("::1"), 0.001, "over IPv6")


if __name__ == "__main__":
    unittest.main()
