"""The main window of the real program as a user drives it: Check, Correct and
Abort against loopback servers, a list that nobody answers, the AutoSync
countdown. Under Wine the clock takes steps below half a second and refuses
larger ones, so nothing here moves this machine's clock."""
import os
import re
import unittest

import harness

SNTP, TIME_PROTOCOL = 1, 0
CHECK, CORRECT = 1, 3
STATUS, COMPUTER_CLOCK, SERVER_CLOCK, SERVER_LABEL = 1000, 1029, 1030, 1032
WINDOW = "PENDULARK"


class PendularkWindow(unittest.TestCase):
    def open_window(self, name, servers, **settings):
        directory = harness.scratch_dir(name)
        with open(os.path.join(directory, "ServFile.txt"), "wb") as f:
            f.write(b"".join(s.encode() + b"\r\n" for s in servers))
        harness.write_settings(directory, **settings)
        process = harness.start(directory, "Pendulark.exe")
        self.addCleanup(harness.finish, process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, "20000").returncode, 0, "no main window")
        self.addCleanup(harness.winctl, "key", WINDOW, "0x1B")
        # Initialisation runs half a second after the window appears; the clock shows it is done.
        clock = harness.wait_for_text(WINDOW, COMPUTER_CLOCK, lambda t: t != "Wait...")
        self.assertNotEqual(clock, "Wait...")
        return directory

    def press(self, button):
        self.assertEqual(harness.winctl("click", WINDOW, str(button)).returncode, 0)

    def status_reads(self, pattern, timeout=30):
        text = harness.wait_for_text(WINDOW, STATUS, lambda t: re.fullmatch(pattern, t) is not None, timeout)
        self.assertRegex(text or "", "^" + pattern + "$")
        return text

    def test_check_fills_the_server_clock_and_its_label(self):
        address = "127.0.9.41"
        with harness.ReferenceServer(address) as reference:
            self.open_window("window-check", [address], protocol=SNTP, sync_timeout_seconds=10)
            # Enter presses the default button, Check.
            self.assertEqual(harness.winctl("key", WINDOW, "0x0D").returncode, 0)
            label = harness.wait_for_text(WINDOW, SERVER_LABEL, lambda t: t == address)
            self.assertEqual(label, address)
            clock = harness.control_text(WINDOW, SERVER_CLOCK)
            self.assertRegex(clock, r"^\d{1,2}:\d\d:\d\d [AP]M\n\w+day, \w+ \d{1,2}, \d{4}$")
            self.assertEqual(reference.count("sntp"), 1)
        self.assertEqual(harness.control_text(WINDOW, CHECK), "Check")

    def test_correct_shows_the_amount(self):
        address = "127.0.9.42"
        with harness.ReferenceServer(address, offset=0.2):
            self.open_window("window-correct", [address], protocol=SNTP, sync_timeout_seconds=10)
            self.press(CORRECT)
            # Half the round trip's asymmetry may shift the last digits.
            self.status_reads(r"Time Corrected by 0\.(19\d|20\d)\d\d Scs")

    def test_a_clock_that_refuses_the_step_says_so(self):
        address = "127.0.9.43"
        with harness.ReferenceServer(address, offset=7.0):
            self.open_window("window-refused", [address], protocol=SNTP, sync_timeout_seconds=10)
            self.press(CORRECT)
            self.status_reads("Error setting Time Change Privileges")

    def test_a_silent_server_turns_check_into_abort(self):
        address = "127.0.9.44"
        with harness.ReferenceServer(address, mode="silent"):
            self.open_window("window-abort", [address], protocol=SNTP, sync_timeout_seconds=60)
            self.press(CHECK)
            self.status_reads("Waiting for reply from " + re.escape(address))
            self.assertEqual(harness.control_text(WINDOW, CHECK), "Abort")
            self.press(CHECK)
            self.assertEqual(harness.wait_for_text(WINDOW, CHECK, lambda t: t == "Check"), "Check")
            self.status_reads("Aborting...|Ready")

    def test_a_list_nobody_answers_ends_its_cycle(self):
        servers = ["127.0.9.51", "127.0.9.52", "127.0.9.53"]  # nobody listens: refused at once
        directory = self.open_window("window-unreachable", servers, server_index=1, log_level=1,
                                     protocol=TIME_PROTOCOL, sync_timeout_seconds=5)
        self.press(CORRECT)
        self.status_reads("Unable to sync from " + re.escape(servers[0]))
        self.assertEqual(harness.wait_for_text(WINDOW, CHECK, lambda t: t == "Check"), "Check")
        self.assertEqual(harness.log_entries(directory), ["No response from " + servers[i] for i in (1, 2, 0)])

    def test_armed_autosync_counts_down_after_ready(self):
        self.open_window("window-autosync", ["127.0.9.61"], autosync_enabled=1, autosync_count=4,
                         autosync_unit=1)
        # "Ready" stays ten seconds, then the countdown of the 4-hour period.
        self.status_reads("3 Hrs 59 Mns until AutoSync", timeout=20)


if __name__ == "__main__":
    unittest.main()
