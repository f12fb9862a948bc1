"""Pendulark as a Windows service: the real "/service install" registers and
starts it, it asks the loopback server at its start and records the answer in
the machine's folder; the window started beside it says that the service keeps
the time, and its Correct has the service ask and record; "/service remove"
leaves no service behind. Prints how long the service took from the install to
its first answer and from the window's Correct to the service's answer."""
import os
import shutil
import subprocess
import time
import unittest

import harness
from harness import WINDOW, ids

ADDRESS = "127.0.39.1"
KEEPS = r"The service keeps the time: .*"
CORRECTED = KEEPS[:-2] + r"Time Corrected by -?0\.\d{5} Scs"  # an SNTP step below a second, which Wine takes
CORRECTS = 3


def machine_dir():
    return os.path.join(harness.wine_prefix(), "drive_c", "ProgramData", "Brenlo", "Pendulark")


def history_rows(directory):
    path = os.path.join(directory, "dHistory.csv")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()[1:]


class PendularkService(unittest.TestCase):
    def service(self, verb):
        done = subprocess.run([harness.WINE_RUN, os.path.join(self.directory, "Pendulark.exe"), "/service", verb],
                              capture_output=True, timeout=120)
        return done.returncode

    def installed(self):
        done = subprocess.run([harness.WINE_RUN, "sc", "query", "Pendulark"], capture_output=True, timeout=60)
        return b"RUNNING" in done.stdout

    def setUp(self):
        # A machine's folder left by an earlier run would keep its settings.
        shutil.rmtree(os.path.dirname(machine_dir()), ignore_errors=True)
        self.directory = harness.scratch_dir("service")
        harness.write_servers(self.directory, [ADDRESS])
        harness.write_settings(self.directory, protocol=harness.PROTOCOL_SNTP, log_level=3, sync_timeout_seconds=5)
        self.server = harness.ReferenceServer(ADDRESS, offset=0.25)
        self.addCleanup(self.server.close)

    def test_the_service_keeps_the_time_and_the_window_is_its_face(self):
        began = time.monotonic()
        self.assertEqual(self.service("install"), 0)
        # Cleanups run last first: the window goes before the service.
        self.addCleanup(self.service, "remove")
        harness.wait_until(lambda: history_rows(machine_dir()), 60, "the service recorded no answer")
        to_first_answer = time.monotonic() - began
        self.assertTrue(self.installed())
        with open(os.path.join(machine_dir(), "dSync.dat"), "rb") as f:
            self.assertEqual(f.read(), harness.saved_settings(self.directory), "the user's settings, copied")

        harness.open_pendulark(self, directory=self.directory)
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, KEEPS)
        round_trips = []
        for number in range(CORRECTS):
            asked = time.monotonic()
            harness.winctl_served("post", WINDOW, harness.WM_COMMAND, ids.IDB_MAIN_CORRECT, 0)
            harness.wait_until(lambda: len(history_rows(machine_dir())) == number + 2, 30,
                               "the service recorded no answer to the window's Correct")
            round_trips.append(time.monotonic() - asked)
            harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, CORRECTED)
        self.assertEqual(history_rows(self.directory), [], "the window recorded no answer of its own")
        self.assertTrue(all(ADDRESS in row for row in history_rows(machine_dir())))

        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.winctl("gone", WINDOW, 20000).returncode, 0)
        self.assertEqual(self.service("remove"), 0)
        self.assertFalse(self.installed())
        print(f"\n    service: install to first answer {to_first_answer:.2f} s; window's Correct to the "
              f"service's answer {min(round_trips):.2f} to {max(round_trips):.2f} s", end=" ")
