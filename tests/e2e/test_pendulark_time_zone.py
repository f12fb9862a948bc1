"""The time zone as the real program shows it, under a zone with daylight
saving (Wine takes its zone from TZ). Wine refuses every change of zone, so the
lock here meets the refusal, which the log must tell."""
import os
import re
import time
import unittest

import harness

WINDOW, DIALOG = "PENDULARK", "#32770"
TIME_ZONE_BUTTON, LOCK, OK = 1001, 1046, 1
NAME, PHASE, BIAS = 1028, 1029, 1033
STANDARD_DATE, DAYLIGHT_DATE, DAYLIGHT_BIAS = 1041, 1044, 1045
NEW_YORK = {"TZ": "America/New_York"}


class PendularkTimeZone(unittest.TestCase):
    def test_the_title_and_the_window_show_eastern_time(self):
        directory = harness.scratch_dir("time-zone")
        harness.write_settings(directory, log_level=1)
        process = harness.start(directory, "Pendulark.exe", env=NEW_YORK)
        self.addCleanup(harness.finish, process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, "20000").returncode, 0)
        self.addCleanup(harness.winctl, "key", WINDOW, "0x1B")
        deadline, title = time.monotonic() + 20, ""
        while time.monotonic() < deadline and " - " not in title:
            title = harness.winctl("title", WINDOW).stdout.decode().strip()
            time.sleep(0.2)
        phase = "Daylight" if time.localtime().tm_isdst else "Standard"
        self.assertEqual(title, f"Pendulark 1.15 - Eastern {phase} Time")

        # The button's click waits inside the modal window; it is read from outside meanwhile.
        harness.winctl("click", WINDOW, str(TIME_ZONE_BUTTON), timeout=10)
        self.assertEqual(harness.winctl("wait", DIALOG, "10000").returncode, 0)
        self.assertEqual(harness.control_text(DIALOG, NAME), "(UTC-05:00) Eastern Time (US & Canada)")
        self.assertEqual(harness.control_text(DIALOG, PHASE), phase)
        self.assertEqual(harness.control_text(DIALOG, BIAS), "- 5 Hrs")
        date = r"\d{1,2}:\d\d:\d\d [AP]M \d{1,2}/\d{1,2}/\d{4}"
        self.assertRegex(harness.control_text(DIALOG, STANDARD_DATE), "^" + date + "$")
        self.assertRegex(harness.control_text(DIALOG, DAYLIGHT_DATE), "^" + date + "$")
        self.assertEqual(harness.control_text(DIALOG, DAYLIGHT_BIAS), "- 1 Hr")
        # Esc does not close it; OK stores the lock.
        harness.winctl("key", DIALOG, "0x1B")
        time.sleep(0.5)
        self.assertEqual(harness.winctl("wait", DIALOG, "0").returncode, 0)
        harness.winctl("click", DIALOG, str(LOCK))
        harness.winctl("click", DIALOG, str(OK))
        self.assertEqual(harness.winctl("gone", DIALOG, "10000").returncode, 0)
        harness.winctl("key", WINDOW, "0x1B")
        self.assertEqual(harness.finish(process, 30), 0)
        self.assertEqual(harness.read_settings_field(directory, 348), 1, "the lock was not stored")

        # Locked to New York, started in Tokyo: Wine refuses the change, and the log says so.
        process = harness.start(directory, "Pendulark.exe", env={"TZ": "Asia/Tokyo"})
        self.addCleanup(harness.finish, process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, "20000").returncode, 0)
        deadline, title = time.monotonic() + 20, ""
        while time.monotonic() < deadline and "Tokyo" not in title:
            title = harness.winctl("title", WINDOW).stdout.decode().strip()
            time.sleep(0.2)
        self.assertEqual(title, "Pendulark 1.15 - Tokyo Standard Time")
        self.assertIn("Time Zone Restore Failed", harness.log_entries(directory))
        harness.winctl("key", WINDOW, "0x1B")
        self.assertEqual(harness.finish(process, 30), 0)


if __name__ == "__main__":
    unittest.main()
