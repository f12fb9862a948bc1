"""The clock's discipline in the real program. Wine takes the call that sets
the clock's rate and changes nothing, so what is looked at is the calls the
program makes (Wine's relay trace of those two alone) and what it says of them."""
import os
import re
import subprocess
import unittest

import harness

WINDOW = harness.WINDOW
PROTOCOL_SNTP = 1
PROGRAM_START_CORRECT = 2
LOG_ALL = 3
TRACED = "kernel32.SetSystemTime;kernel32.SetSystemTimeAdjustment"
CALL = re.compile(r"Call KERNEL32\.(SetSystemTime|SetSystemTimeAdjustment)\(([^)]*)\)")


def setUpModule():
    subprocess.run([harness.WINE_RUN, "reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/d", TRACED,
                    "/f"], capture_output=True, timeout=120, check=True)


def tearDownModule():
    subprocess.run([harness.WINE_RUN, "reg", "delete", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/f"],
                   capture_output=True, timeout=120)


class PendularkDiscipline(unittest.TestCase):
    def corrected_at_start(self, name, offset, status):
        """The window's start action "Correct Time" against a server offset
        seconds ahead, until the status line says status; then Exit. Returns the
        directory and the clock calls made, each (name, arguments)."""
        directory = harness.scratch_dir(name)
        harness.write_settings(directory, server_source=harness.SOURCE_MANUAL_A, manual_address_a=b"127.0.9.61",
                               protocol=PROTOCOL_SNTP, program_start_action=PROGRAM_START_CORRECT,
                               log_level=LOG_ALL, sync_timeout_seconds=5)
        trace = os.path.join(directory, "relay.txt")
        with harness.ReferenceServer("127.0.9.61", offset=offset):
            process = harness.start(directory, "Pendulark.exe", env={"WINEDEBUG": "+relay"}, trace=trace)
            self.addCleanup(harness.finish, process, 30)
            self.assertEqual(harness.winctl("wait", WINDOW, 20000).returncode, 0, "the main window never appeared")
            harness.wait_for_text(WINDOW, harness.ids.IDT_MAIN_STATUS, status, 60)
        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.finish(process, 30), 0)
        with open(trace, errors="replace") as f:
            return directory, CALL.findall(f.read())

    def test_a_small_offset_slews_by_the_rate_and_exit_gives_it_back(self):
        directory, calls = self.corrected_at_start("discipline-slew", 0.2,
                                                   lambda text: text.startswith("Slewing by +0."))
        self.assertNotIn("SetSystemTime", [name for name, _ in calls], "a slew never steps")
        rates = [arguments for name, arguments in calls if name == "SetSystemTimeAdjustment"]
        self.assertTrue(rates and rates[0].endswith(",00000000"), rates)
        self.assertTrue(rates[-1].endswith(",00000001"), "Exit gives the rate back to Windows")
        line = harness.log_entries(directory)[-1]
        slew = re.fullmatch(r"Pendularked: Old time was .*, Server used was 127\.0\.9\.61 \(.*, slewed by "
                            r"\+(0\.\d+) s over (\d+) s\)", line)
        self.assertTrue(slew, line)
        # Within the loopback trip of the server's 0.2 s, taken out at 500 ppm.
        amount, seconds = float(slew.group(1)), int(slew.group(2))
        self.assertAlmostEqual(amount, 0.2, delta=0.01)
        self.assertAlmostEqual(seconds, amount / 500e-6, delta=1)
        with open(os.path.join(directory, "dHistory.csv")) as f:
            self.assertRegex(f.read().splitlines()[-1], r",1,slew,$")

    def test_a_large_offset_is_a_step(self):
        # Wine refuses steps of half a second and more: the step is asked for all the same.
        directory, calls = self.corrected_at_start("discipline-step", 30, "Error setting Time Change Privileges")
        self.assertEqual([name for name, _ in calls], ["SetSystemTime"], "no rate is set for a step")


if __name__ == "__main__":
    unittest.main()
