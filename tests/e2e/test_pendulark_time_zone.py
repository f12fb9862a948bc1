"""The time zone as the real program shows it, under a zone with daylight
saving (Wine takes its zone from TZ). Wine refuses every change of zone, so the
lock here meets the refusal, which the log must tell."""
import re
import unittest
from datetime import datetime
from zoneinfo import ZoneInfo

import harness
from harness import WINDOW, ids

DIALOG = "#32770:Time Zone"
NEW_YORK = "America/New_York"
BM_CLICK = 0xF5


class PendularkTimeZone(unittest.TestCase):
    def wait_for_title(self, wanted):
        return harness.wait_until(lambda: harness.title(WINDOW) == wanted, 20,
                                  lambda: f"the title reads {harness.title(WINDOW)!r}, not {wanted!r}")

    def test_the_title_and_the_window_show_eastern_time(self):
        directory, process = harness.open_pendulark(self, "time-zone", settings=dict(log_level=1),
                                                    env={"TZ": NEW_YORK})
        # New York's phase now, by New York's rules, not by this machine's zone.
        phase = "Daylight" if datetime.now(ZoneInfo(NEW_YORK)).dst() else "Standard"
        self.wait_for_title(f"Pendulark {harness.program.PROGRAM_VERSION_TEXT} - Eastern {phase} Time")

        # Posted: a click sent to the button would wait inside the modal window.
        harness.winctl("post", WINDOW, harness.WM_COMMAND, ids.IDB_MAIN_TIME_ZONE, 0)
        self.assertEqual(harness.winctl("wait", DIALOG, 10000).returncode, 0)
        date = r"\d{1,2}:\d\d:\d\d [AP]M \d{1,2}/\d{1,2}/\d{4}"
        for control, pattern in ((ids.IDT_ZONE_NAME, re.escape("(UTC-05:00) Eastern Time (US & Canada)")),
                                 (ids.IDT_ZONE_PHASE, phase), (ids.IDT_ZONE_BIAS, "- 5 Hrs"),
                                 (ids.IDT_ZONE_STANDARD_DATE, date), (ids.IDT_ZONE_DAYLIGHT_DATE, date),
                                 (ids.IDT_ZONE_DAYLIGHT_BIAS, "- 1 Hr")):
            harness.wait_for_text(DIALOG, control, pattern)
        # Esc does not close it. A click on the lock, posted after the Esc, is handled
        # after it; once the lock is ticked, the Esc has been handled.
        harness.winctl("key", DIALOG, hex(harness.VK_ESCAPE))
        harness.winctl("post", DIALOG, ids.IDX_ZONE_LOCK, BM_CLICK, 0, 0)
        harness.wait_until(lambda: harness.check_state(DIALOG, ids.IDX_ZONE_LOCK) == 1, 10,
                           "the lock was never ticked")
        self.assertEqual(harness.winctl("wait", DIALOG, 0).returncode, 0, "Esc closed the time-zone window")
        # OK stores the lock.
        harness.winctl("click", DIALOG, harness.IDOK)
        self.assertEqual(harness.winctl("gone", DIALOG, 10000).returncode, 0)
        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.finish(process, 30), 0)
        self.assertEqual(harness.read_settings_field(directory, "time_zone_locked"), 1, "the lock was not stored")

        # Locked to New York, started in Tokyo: Wine refuses the change, and the log says so.
        _, process = harness.open_pendulark(self, directory=directory, env={"TZ": "Asia/Tokyo"})
        self.wait_for_title(f"Pendulark {harness.program.PROGRAM_VERSION_TEXT} - Tokyo Standard Time")
        self.assertIn("Time Zone Restore Failed (privilege not held)", harness.log_entries(directory))
        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.finish(process, 30), 0)


if __name__ == "__main__":
    unittest.main()
