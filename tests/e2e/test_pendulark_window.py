"""The main window of the real program as a user drives it: Check, Correct and
Abort against loopback servers, a list that nobody answers and the failure it
leaves, fail-over after an earlier abort, the AutoSync countdown, the
AutoSync a resume from sleep brings, tried again soon when it fails, and the
history that Checks and Corrects leave. Under Wine
the clock takes steps below half a second and refuses larger ones, so nothing
here moves this machine's clock."""
import contextlib
import os
import re
import unittest

import harness
from harness import WINDOW, ids

WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC = 0x218, 0x12
# An SNTP step of less than a second; unattended, a slew under half of one.
CORRECTED = r"Time Corrected by -?0\.\d{5} Scs|Slewing by [+-]0\.\d{5} Scs over .+"
CLOCK = r"\d{1,2}:\d\d:\d\d [AP]M\n\w+day, \w+ \d{1,2}, \d{4}"


class PendularkWindow(unittest.TestCase):
    def open_window(self, name, servers, **settings):
        directory, _ = harness.open_pendulark(self, name, servers=servers, settings=settings)
        return directory

    def press(self, button):
        self.assertEqual(harness.winctl("click", WINDOW, button).returncode, 0)

    def reads(self, control, pattern, timeout=30):
        return harness.wait_for_text(WINDOW, control, pattern, timeout)

    def test_check_pressed_at_once_fills_the_server_clock_and_its_label(self):
        address = "127.0.9.41"
        directory = harness.scratch_dir("window-check")
        # Line ends of LF alone and a last line without one, as some editors leave
        # the list; the entry after the first is chosen.
        with open(os.path.join(directory, "ServFile.txt"), "wb") as f:
            f.write(b"127.0.9.40\n" + address.encode())
        with harness.ReferenceServer(address) as reference:
            harness.open_pendulark(self, directory=directory, initialised=False,
                                   settings=dict(server_index=1, protocol=harness.PROTOCOL_SNTP,
                                                 sync_timeout_seconds=10))
            # Enter presses the default button, Check, before the window's
            # initialisation has run: the cycle still ends.
            self.assertEqual(harness.winctl("key", WINDOW, hex(harness.VK_RETURN)).returncode, 0)
            self.reads(ids.IDT_MAIN_SERVER, re.escape(address))
            # The server clock is drawn by the display tick after the answer.
            self.reads(ids.IDT_MAIN_SERVER_CLOCK, CLOCK)
            self.assertEqual(reference.count("sntp"), 1)
        self.reads(ids.IDB_MAIN_CHECK, "Check")

    def test_an_earlier_abort_leaves_the_start_up_check_its_fail_over(self):
        refused, address = "127.0.9.45", "127.0.9.46"  # nobody listens on the first
        with harness.ReferenceServer(address) as reference:
            self.open_window("window-fail-over", [refused, address], sync_aborted=1,
                             program_start_action=harness.PROGRAM_START_CHECK, protocol=harness.PROTOCOL_TIME,
                             sync_timeout_seconds=10)
            self.reads(ids.IDT_MAIN_SERVER, re.escape(address))
            self.assertEqual(reference.count("time"), 1)

    def test_correct_shows_the_amount_or_the_refusal(self):
        # Half the round trip's asymmetry may shift the last digits of the amount.
        for name, address, offset, status in (
                ("window-correct", "127.0.9.42", 0.2, r"Time Corrected by 0\.(19\d|20\d)\d\d Scs"),
                ("window-refused", "127.0.9.43", 7.0, "Error setting Time Change Privileges")):
            with self.subTest(offset=offset), harness.ReferenceServer(address, offset=offset):
                try:
                    self.open_window(name, [address], protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=10)
                    self.press(ids.IDB_MAIN_CORRECT)
                    self.reads(ids.IDT_MAIN_STATUS, status)
                finally:
                    self.doCleanups()  # one copy at a time

    def test_average_drops_a_server_an_hour_off_and_two_that_disagree_move_nothing(self):
        for name, offsets, status in (
                ("window-falseticker", (0.2, 0.2, 3600.0, 0.2), r"Time Corrected by 0\.(19\d|20\d)\d\d Scs"),
                ("window-disagree", (0.2, 3600.0), r"Unable to sync: servers disagree, 3599\.\d{3} s apart")):
            addresses = [f"127.0.9.{91 + i}" for i in range(len(offsets))]
            with self.subTest(name), contextlib.ExitStack() as servers:
                for address, offset in zip(addresses, offsets):
                    servers.enter_context(harness.ReferenceServer(address, offset=offset))
                try:
                    directory = self.open_window(name, addresses, multi_site_average=1, log_level=1,
                                                 protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=10)
                    self.press(ids.IDB_MAIN_CORRECT)
                    self.reads(ids.IDT_MAIN_STATUS, status)
                    log = harness.log_entries(directory)
                    if len(offsets) == 4:
                        self.assertEqual(len(log), 1, log)
                        # An hour, give or take a millisecond of the round trip's asymmetry.
                        self.assertRegex(log[0], r"^127\.0\.9\.93 dropped: \+(3599\.99\d|3600\.00\d) s, "
                                                 r"3 others agree on \+0\.\d{3} s$")
                    else:
                        self.assertEqual(log[-1], harness.control_text(WINDOW, ids.IDT_MAIN_STATUS))
                finally:
                    self.doCleanups()  # one copy at a time

    def test_a_silent_server_turns_check_into_abort(self):
        address = "127.0.9.44"
        with harness.ReferenceServer(address, mode="silent"):
            self.open_window("window-abort", [address], protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=60)
            self.press(ids.IDB_MAIN_CHECK)
            self.reads(ids.IDT_MAIN_STATUS, "Waiting for reply from " + re.escape(address))
            self.reads(ids.IDB_MAIN_CHECK, "Abort")
            self.press(ids.IDB_MAIN_CHECK)
            self.reads(ids.IDB_MAIN_CHECK, "Check")
            self.reads(ids.IDT_MAIN_STATUS, "Aborting...|Ready")

    def test_a_list_nobody_answers_ends_its_cycle(self):
        servers = ["127.0.9.51", "127.0.9.52", "127.0.9.53"]  # nobody listens: refused at once
        directory = self.open_window("window-unreachable", servers, server_index=1, log_level=1,
                                     protocol=harness.PROTOCOL_TIME, sync_timeout_seconds=5)
        self.press(ids.IDB_MAIN_CORRECT)
        failure = self.reads(ids.IDT_MAIN_STATUS, "Unable to sync from " + re.escape(servers[0]))
        self.reads(ids.IDB_MAIN_CHECK, "Check")
        expected = ["No response from " + servers[i] + " (refused)" for i in (1, 2, 0)]
        harness.wait_until(lambda: len(harness.log_entries(directory)) >= len(expected), 10,
                           "the log never had an entry for every server")
        self.assertEqual(harness.log_entries(directory), expected)
        # The failure stays as long as a result: five seconds of the clock on, it is still there.
        harness.clock_seconds_pass(5)
        self.assertEqual(harness.control_text(WINDOW, ids.IDT_MAIN_STATUS), failure)

    def resume(self):
        """The message Windows sends every top-level window when the machine wakes."""
        self.assertEqual(harness.winctl("post", WINDOW, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0).returncode, 0)

    def test_a_resume_brings_an_autosync(self):
        address = "127.0.9.63"
        with harness.ReferenceServer(address) as reference:
            self.open_window("window-resume", [address], autosync_enabled=1, autosync_count=4, autosync_unit=1,
                             protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=10)
            self.resume()
            harness.wait_until(lambda: reference.count("sntp") == 1, 120, "no sync after the resume")
            self.reads(ids.IDT_MAIN_STATUS, CORRECTED)

    def test_a_resume_without_autosync_asks_nobody(self):
        address = "127.0.9.64"
        with harness.ReferenceServer(address) as reference:
            self.open_window("window-resume-off", [address], protocol=harness.PROTOCOL_TIME)
            self.resume()
            # The display ticks, where a sync that waits would start, go on.
            harness.clock_seconds_pass(3)
            self.assertEqual(reference.count("time"), 0)

    def test_a_failed_sync_after_a_resume_is_tried_again_within_minutes(self):
        address = "127.0.9.65"  # nobody listens at first: no reply within the 2 s
        directory = self.open_window("window-resume-retry", [address], autosync_enabled=1, autosync_count=4,
                                     autosync_unit=1, protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=2,
                                     log_level=1)
        self.resume()
        due = "AutoSync failed: next try in 1 Mns"
        harness.wait_until(lambda: any(e.endswith(due) for e in harness.log_entries(directory)), 60,
                           lambda: f"no retry was due: {harness.log_entries(directory)}")
        with harness.ReferenceServer(address) as reference:
            self.reads(ids.IDT_MAIN_STATUS, r"\d+ Scs until AutoSync retry")
            harness.wait_until(lambda: reference.count("sntp") == 1, 150, "the retry never came")
            self.reads(ids.IDT_MAIN_STATUS, CORRECTED)

    def test_two_checks_and_a_correct_leave_three_rows_and_the_history_opens(self):
        address = "127.0.9.66"
        with harness.ReferenceServer(address, offset=0.2) as reference:
            directory = self.open_window("window-history", [address], protocol=harness.PROTOCOL_SNTP,
                                         sync_timeout_seconds=10)
            for button, asked in ((ids.IDB_MAIN_CHECK, 1), (ids.IDB_MAIN_CHECK, 2), (ids.IDB_MAIN_CORRECT, 3)):
                harness.wait_for_text(WINDOW, ids.IDB_MAIN_CHECK, "Check")
                self.press(button)
                harness.wait_until(lambda: reference.count("sntp") == asked, 30, f"request {asked} never came")
            self.reads(ids.IDT_MAIN_STATUS, CORRECTED)
        with open(os.path.join(directory, "dHistory.csv"), newline="") as f:
            lines = f.read().split("\r\n")
        self.assertEqual(lines[0], "time,server,address,protocol,offset,delay,stratum,corrected,how,rate_ppm")
        rows = [line.split(",") for line in lines[1:] if line]
        self.assertEqual([(r[1], r[2], r[3], r[7]) for r in rows],
                         [(address, address, "SNTP", "0"), (address, address, "SNTP", "0"),
                          (address, address, "SNTP", "1")])
        for row in rows:
            self.assertAlmostEqual(float(row[4]), 0.2, delta=0.05)
        history = "#32770:Pendulark History"
        self.assertEqual(harness.winctl("post", WINDOW, harness.WM_COMMAND, ids.IDM_TRAY_HISTORY, 0).returncode, 0)
        self.assertEqual(harness.winctl("wait", history, 10000).returncode, 0, "no History window")
        harness.wait_for_text(history, ids.IDT_HISTORY_DRIFT,
                              r"Drift: not enough data yet\nLargest offset: \+0\.2\d\d s")
        self.assertEqual(harness.winctl("key", history, hex(harness.VK_ESCAPE)).returncode, 0)
        self.assertEqual(harness.winctl("gone", history, 10000).returncode, 0, "Esc left the History window open")

    def test_armed_autosync_counts_down_after_ready(self):
        self.open_window("window-autosync", ["127.0.9.61"], autosync_enabled=1, autosync_count=4,
                         autosync_unit=1)
        # "Ready" stays ten seconds, then the countdown of the 4-hour period.
        self.reads(ids.IDT_MAIN_STATUS, "3 Hrs 59 Mns until AutoSync", timeout=20)


if __name__ == "__main__":
    unittest.main()
