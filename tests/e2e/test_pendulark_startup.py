"""Pendulark's start-up as a user meets it: one copy at a time, the switches,
and settings that survive a close."""
import os
import struct
import unittest

import harness

START_MINIMISED = 132  # offset of the flag in the saved record


class PendularkStartup(unittest.TestCase):
    def start_and_wait_for_window(self, directory, *args):
        process = harness.start(directory, "Pendulark.exe", *args)
        self.addCleanup(harness.finish, process, 1)
        waited = harness.winctl("wait", "PENDULARK", "20000")
        self.assertEqual(waited.returncode, 0, "the main window never appeared")
        return process

    def close_and_wait(self, process, *how):
        self.assertEqual(harness.winctl(*how).returncode, 0)
        self.assertEqual(harness.finish(process, 30), 0, "the program did not end after its window closed")

    def saved_file(self, directory):
        with open(os.path.join(directory, "dSync.dat"), "rb") as f:
            return f.read()

    def test_closing_saves_a_whole_record_and_a_second_copy_ends_at_once(self):
        directory = harness.scratch_dir("startup-close")
        first = self.start_and_wait_for_window(directory)
        second = harness.start(directory, "Pendulark.exe")
        self.assertEqual(harness.finish(second, 30), 0, "a second copy kept running")
        self.assertFalse(os.path.exists(os.path.join(directory, "dSync.dat")), "saved before closing")
        self.close_and_wait(first, "close", "PENDULARK")
        data = self.saved_file(directory)
        self.assertEqual(len(data), harness.SETTINGS_SIZE)
        self.assertEqual(data[:8], b"SYNC1150")
        self.assertFalse(os.path.exists(os.path.join(directory, "dSync.new")))

    def test_escape_closes_and_the_minimised_switch_is_kept(self):
        directory = harness.scratch_dir("startup-minimised")
        process = self.start_and_wait_for_window(directory, "/s")
        self.close_and_wait(process, "key", "PENDULARK", "0x1B")
        self.assertEqual(harness.read_settings_field(directory, START_MINIMISED), 1)

    def test_a_damaged_settings_file_is_replaced_by_a_sound_one(self):
        directory = harness.scratch_dir("startup-damaged")
        with open(os.path.join(directory, "dSync.dat"), "wb") as f:
            f.write(b"SYNC1150" + b"\xff" * 37)  # cut short, every word at its maximum
        process = self.start_and_wait_for_window(directory)
        self.close_and_wait(process, "close", "PENDULARK")
        data = self.saved_file(directory)
        self.assertEqual(len(data), harness.SETTINGS_SIZE)
        self.assertEqual(data[:8], b"SYNC1150")
        word = lambda offset: struct.unpack_from("<I", data, 8 + offset)[0]
        # Out-of-range words are put back to their defaults; the rest of the
        # record, never read, keeps the zeros it started with.
        repaired = {"server_index": (0, 0), "offset_direction": (4, 0), "offset_minutes": (8, 0),
                    "log_level": (20, 0), "autosync_count": (104, 4), "sync_timeout_seconds": (140, 15),
                    "protocol": (116, 0), "autosync_unit": (108, 0)}
        for name, (offset, value) in repaired.items():
            self.assertEqual(word(offset), value, name)
        self.assertEqual(word(12), 0xFFFFFFFF, "reserved_12 is kept as loaded")
        # Manual address A was cut short by the file: 13 bytes of 0xFF, then zeros.
        self.assertEqual(data[8 + 24:8 + 56], b"\xff" * 13 + b"\0" * 19)


if __name__ == "__main__":
    unittest.main()
