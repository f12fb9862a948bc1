"""The Options dialog of the real program: fields of every kind changed and
kept, Cancel that keeps nothing, Reset that asks first, and the time server
that answers as soon as "Server" is ticked."""
import os
import socket
import struct
import time
import unittest

import harness

WINDOW, OPTIONS, QUESTION = "PENDULARK", "#32770:Options", "#32770:Pendulark 1.15"
OPTIONS_BUTTON, OK, CANCEL, RESET, CONTINUE = 101, 1, 2, 7, 1
LOG_LIST, DATES, DATE_START, TIMEOUT, ADDRESS_A, ON_TOP, SERVER = 1005, 1030, 1011, 1025, 1007, 1015, 1038
VK_UP = 0x26


def word(data, offset):
    return struct.unpack_from("<I", data, 8 + offset)[0]


class PendularkOptions(unittest.TestCase):
    def setUp(self):
        self.directory = harness.scratch_dir("options")
        self.settings = os.path.join(self.directory, "dSync.dat")
        harness.write_settings(self.directory, sync_timeout_seconds=15, log_level=0)
        self.process = harness.start(self.directory, "Pendulark.exe")
        self.addCleanup(harness.finish, self.process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, "20000").returncode, 0)
        self.addCleanup(harness.winctl, "key", WINDOW, "0x1B")
        harness.wait_for_text(WINDOW, 1029, lambda t: t != "Wait...")

    def open_options(self):
        harness.winctl("click", WINDOW, str(OPTIONS_BUTTON), timeout=10)  # returns while the dialog is open
        self.assertEqual(harness.winctl("wait", OPTIONS, "10000").returncode, 0)

    def press(self, window, button):
        harness.winctl("click", window, str(button), timeout=10)

    def end_program(self):
        harness.winctl("key", WINDOW, "0x1B")
        self.assertEqual(harness.finish(self.process, 30), 0)
        with open(self.settings, "rb") as f:
            return f.read()

    def test_fields_of_every_kind_are_kept_by_ok(self):
        with open(self.settings, "rb") as f:
            before = f.read()
        self.open_options()
        harness.winctl("select", OPTIONS, str(LOG_LIST), "2")           # a list
        self.press(OPTIONS, ON_TOP)                                    # a check box
        harness.winctl("set-text", OPTIONS, str(TIMEOUT), "42")        # a number
        harness.winctl("set-text", OPTIONS, str(ADDRESS_A), "10.1.2.3")  # an address
        self.press(OPTIONS, DATES)                                     # enables the dates
        harness.winctl("keyto", OPTIONS, str(DATE_START), hex(VK_UP))  # a date: one step on
        time.sleep(0.5)
        self.press(OPTIONS, OK)
        self.assertEqual(harness.winctl("gone", OPTIONS, "10000").returncode, 0)
        data = self.end_program()
        self.assertEqual(word(data, 20), 2)
        self.assertEqual(word(data, 96), 1)
        self.assertEqual(word(data, 140), 42)
        self.assertEqual(data[8 + 24:8 + 33], b"10.1.2.3\0")
        self.assertEqual(word(data, 168), 1)
        self.assertNotEqual(data[8 + 152:8 + 160], before[8 + 152:8 + 160], "the date did not change")

    def test_cancel_keeps_nothing_and_reset_asks_first(self):
        self.open_options()
        harness.winctl("set-text", OPTIONS, str(TIMEOUT), "77")
        self.press(OPTIONS, CANCEL)
        self.assertEqual(harness.winctl("gone", OPTIONS, "10000").returncode, 0)
        self.open_options()
        self.assertEqual(harness.control_text(OPTIONS, TIMEOUT), "15")
        harness.winctl("set-text", OPTIONS, str(TIMEOUT), "50")
        self.press(OPTIONS, RESET)
        self.assertEqual(harness.winctl("wait", QUESTION, "10000").returncode, 0)
        self.assertEqual(harness.control_text(QUESTION, 850), "This will reset all settings to default.")
        self.press(QUESTION, CONTINUE)
        self.assertEqual(harness.winctl("gone", QUESTION, "10000").returncode, 0)
        self.assertEqual(harness.control_text(OPTIONS, TIMEOUT), "15")
        self.press(OPTIONS, OK)
        data = self.end_program()
        self.assertEqual(word(data, 140), 15)
        self.assertEqual(word(data, 116), 2)

    def test_ticking_server_answers_on_port_37_at_once(self):
        self.open_options()
        self.press(OPTIONS, SERVER)
        deadline, answer = time.monotonic() + 10, b""
        while time.monotonic() < deadline and len(answer) != 4:
            try:
                with socket.create_connection(("127.0.0.1", 37), timeout=5) as s:
                    answer = s.recv(16)
            except OSError:
                time.sleep(0.2)
        self.assertEqual(len(answer), 4)
        self.press(OPTIONS, CANCEL)


if __name__ == "__main__":
    unittest.main()
