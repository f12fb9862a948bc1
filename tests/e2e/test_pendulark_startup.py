"""Pendulark's start-up as a user meets it: one copy at a time, the switches,
settings that survive a close, and a settings file another program holds."""
import os
import subprocess
import unittest

import harness
from harness import WINDOW, ids

UNREADABLE = "dSync.dat could not be read: defaults this run, nothing saved"


class PendularkStartup(unittest.TestCase):
    def close_and_wait(self, process, *how):
        self.assertEqual(harness.winctl(*how).returncode, 0)
        self.assertEqual(harness.finish(process, 30), 0, "the program did not end after its window closed")

    def assert_sound_file(self, directory):
        data = harness.saved_settings(directory)
        self.assertEqual(len(data), harness.SETTINGS_SIZE)
        self.assertEqual(data[:len(harness.SETTINGS_HEADER)], harness.SETTINGS_HEADER)
        return data

    def test_closing_saves_a_whole_record_and_a_second_copy_ends_at_once(self):
        directory, first = harness.open_pendulark(self, "startup-close")
        second = harness.start(directory, "Pendulark.exe")
        self.assertEqual(harness.finish(second, 30), 0, "a second copy kept running")
        self.assertFalse(os.path.exists(os.path.join(directory, "dSync.dat")), "saved before closing")
        self.close_and_wait(first, "close", WINDOW)
        self.assert_sound_file(directory)
        self.assertFalse(os.path.exists(os.path.join(directory, "dSync.new")))

    def test_escape_closes_and_the_minimised_switch_is_kept(self):
        # Minimised to the tray, the window draws no clock to wait for.
        directory, process = harness.open_pendulark(self, "startup-minimised", args=["/s"], initialised=False)
        self.close_and_wait(process, "key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.read_settings_field(directory, "start_minimised"), 1)

    def test_a_damaged_settings_file_is_replaced_by_a_sound_one(self):
        directory = harness.scratch_dir("startup-damaged")
        with open(os.path.join(directory, "dSync.dat"), "wb") as f:
            f.write(harness.SETTINGS_HEADER + b"\xff" * 37)  # cut short, every word at its maximum
        _, process = harness.open_pendulark(self, directory=directory)
        self.close_and_wait(process, "close", WINDOW)
        data = self.assert_sound_file(directory)
        # Out-of-range words are put back to their defaults; the rest of the
        # record, never read, keeps the zeros it started with.
        repaired = {"server_index": 0, "offset_direction": 0, "offset_minutes": 0, "log_level": 0,
                    "autosync_count": 4, "sync_timeout_seconds": 15, "protocol": harness.PROTOCOL_TIME,
                    "autosync_unit": 0}
        for name, value in repaired.items():
            self.assertEqual(harness.word(data, name), value, name)
        self.assertEqual(harness.word(data, "reserved_12"), 0xFFFFFFFF, "reserved_12 is kept as loaded")
        # Manual address A was cut short by the file: 13 bytes of 0xFF, then zeros.
        self.assertEqual(harness.field(data, "manual_address_a"), b"\xff" * 13 + b"\0" * 19)

    def hold(self, directory, share):
        """Another Windows program holding "dSync.dat" (Wine keeps sharing apart per
        process); it lets go when its input ends."""
        holder = subprocess.Popen([harness.WINE_RUN, os.path.join(harness.bin_dir(), "winctl.exe"), "hold",
                                   "dSync.dat", share], cwd=directory, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(harness.finish, holder, 10)
        self.addCleanup(holder.stdin.close)
        self.assertEqual(holder.stdout.readline().strip(), b"held", "the file could not be held")
        return holder

    def test_a_held_settings_file_is_read_when_shared_and_never_saved_over_when_not(self):
        for share in ("none", "read"):
            with self.subTest(share=share):
                try:
                    directory = harness.scratch_dir("startup-held-" + share)
                    harness.write_settings(directory, sync_timeout_seconds=33, log_level=3, minimise_to_tray=0)
                    before = harness.saved_settings(directory)
                    holder = self.hold(directory, share)
                    _, process = harness.open_pendulark(self, directory=directory)
                    harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, UNREADABLE if share == "none" else "Ready")
                    # Let go first, so that only the program's own caution keeps the file.
                    holder.stdin.close()
                    self.assertEqual(harness.finish(holder, 30), 0)
                    # Not the key's own result: the window may be gone before its release is posted.
                    harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
                    self.assertEqual(harness.finish(process, 30), 0, "Esc did not end the program")
                    data = harness.saved_settings(directory)
                    if share == "none":
                        self.assertEqual(data, before, "the defaults were saved over the user's settings")
                        self.assertIn(UNREADABLE, harness.log_entries(directory))
                    else:
                        for name, value in dict(sync_timeout_seconds=33, log_level=3, minimise_to_tray=0).items():
                            self.assertEqual(harness.word(data, name), value, name)
                finally:
                    self.doCleanups()  # one copy at a time


if __name__ == "__main__":
    unittest.main()
