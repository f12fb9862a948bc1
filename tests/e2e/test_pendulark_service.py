"""Pendulark as a Windows service: the real "/service install" registers and
starts it, it asks the loopback server at its start and on its AutoSync period
and records the answers in the machine's folder; the window started beside it says that the service keeps
the time, and its Correct has the service ask and record; it follows the
service's stop and start; the run at logon
leaves the clock to it; with no window open
it takes new settings that turn its time server on, and serves TCP 37 and UDP
123; "/service remove" leaves no service behind. Prints how long the service took from the install to
its first answer, from `sc start` to its answer, from the window's Correct
to the service's answer, and from `sc stop` and `sc start` to the window's following."""
import os
import shutil
import socket
import struct
import subprocess
import time
import unittest

import harness
from harness import WINDOW, ids

ADDRESS = "127.0.39.1"
KEEPS = r"The service keeps the time: .*"
CORRECTED = KEEPS[:-2] + r"Time Corrected by -?0\.\d{5} Scs"  # an SNTP step below a second, which Wine takes
CORRECTS = 3
FOLLOWED_STOP = "The Pendulark service has stopped: Pendulark keeps the time again"
FOLLOWED_START = "The Pendulark service has started: it keeps the time now"


def machine_dir():
    return os.path.join(harness.wine_prefix(), "drive_c", "ProgramData", "Brenlo", "Pendulark")


def sntp_answers():
    """Whether UDP 123 on loopback answers a client's request as a server."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(2)
        try:
            s.sendto(bytes([0x23]) + bytes(47), ("127.0.0.1", 123))
            reply = s.recv(64)
        except OSError:
            return False
    return len(reply) == 48 and reply[0] & 7 == 4


def turn_time_server_on(directory):
    """As Options saves beside the service: the file replaced whole."""
    path = os.path.join(directory, "dSync.dat")
    data = bytearray(harness.saved_settings(directory))
    struct.pack_into("<I", data, len(harness.SETTINGS_HEADER) + harness.RECORD["time_server_enabled"][0], 1)
    with open(path + ".new", "wb") as f:
        f.write(data)
    os.replace(path + ".new", path)


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

    def sc(self, *args):
        return subprocess.run([harness.WINE_RUN, "sc", *args, "Pendulark"], capture_output=True, timeout=60).stdout

    def installed(self):
        return b"RUNNING" in self.sc("query")

    def setUp(self):
        # A machine's folder left by an earlier run would keep its settings.
        shutil.rmtree(os.path.dirname(machine_dir()), ignore_errors=True)
        self.directory = harness.scratch_dir("service")
        harness.write_servers(self.directory, [ADDRESS])
        harness.write_settings(self.directory, protocol=harness.PROTOCOL_SNTP, log_level=3, sync_timeout_seconds=5,
                               autosync_enabled=1, autosync_count=1, autosync_unit=harness.UNIT_MINUTES)
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
        # Stopped and started again, as at a boot: its start is a sync.
        self.sc("stop")
        harness.wait_until(lambda: b"STOPPED" in self.sc("query"), 30, "the service did not stop")
        began = time.monotonic()
        self.sc("start")
        harness.wait_until(lambda: len(history_rows(machine_dir())) == 2, 60, "the service's start asked nobody")
        to_answer = time.monotonic() - began

        harness.open_pendulark(self, directory=self.directory)
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, KEEPS)
        round_trips = []
        for number in range(CORRECTS):
            asked = time.monotonic()
            harness.winctl_served("post", WINDOW, harness.WM_COMMAND, ids.IDB_MAIN_CORRECT, 0)
            harness.wait_until(lambda: len(history_rows(machine_dir())) == number + 3, 30,
                               "the service recorded no answer to the window's Correct")
            round_trips.append(time.monotonic() - asked)
            harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, CORRECTED)
        self.assertEqual(history_rows(self.directory), [], "the window recorded no answer of its own")
        # A minute after its start, AutoSync's: a small offset, slewed.
        harness.wait_until(lambda: len(history_rows(machine_dir())) == CORRECTS + 3, 90,
                           "the service asked nobody on its AutoSync period")
        self.assertRegex(history_rows(machine_dir())[-1], r",1,slew,[^,]*$")
        self.assertTrue(all(ADDRESS in row for row in history_rows(machine_dir())))
        # Stopped and started again while the window runs: it follows.
        rows = len(history_rows(machine_dir()))
        began = time.monotonic()
        self.sc("stop")
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, FOLLOWED_STOP)
        to_follow_stop = time.monotonic() - began
        began = time.monotonic()
        self.sc("start")
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, FOLLOWED_START)
        to_follow_start = time.monotonic() - began
        harness.wait_until(lambda: len(history_rows(machine_dir())) == rows + 1, 30, "the service's start asked nobody")

        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.winctl("gone", WINDOW, 20000).returncode, 0)
        # The run at logon leaves the clock to the service.
        asked = len(self.server.requests)
        self.assertEqual(harness.finish(harness.start(self.directory, "Pendulark.exe", "/q"), 30), 0)
        self.assertEqual(len(self.server.requests), asked, "the run at logon asked a server itself")

        # Its own server takes the ports once the reference server has let them go.
        self.server.close()
        turn_time_server_on(machine_dir())
        harness.wait_until(harness.time_server_answers, 30, "the service serves no Time Protocol")
        harness.wait_until(sntp_answers, 30, "the service serves no SNTP")
        self.assertEqual(self.service("remove"), 0)
        self.assertFalse(self.installed())
        print(f"\n    service: install to first answer {to_first_answer:.2f} s, start to answer {to_answer:.2f} s; "
              f"window's Correct to the service's answer {min(round_trips):.2f} to {max(round_trips):.2f} s; "
              f"the window followed its stop in {to_follow_stop:.1f} s, its start in {to_follow_start:.1f} s", end=" ")
