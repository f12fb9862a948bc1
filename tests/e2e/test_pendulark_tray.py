"""The tray as Windows drives it, by the messages it would send: minimising
with "Tray" hides the window, a double click on the icon brings it back,
closing with "Tray" and "Resident" keeps the program, the menu's Exit ends it."""
import os
import time
import unittest

import harness

WINDOW = "PENDULARK"
WM_SYSCOMMAND, SC_MINIMIZE = 0x112, 0xF020
TRAY_CALLBACK, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN = 1029, 0x203, 0x204
VK_UP, VK_RETURN = 0x26, 0x0D


class PendularkTray(unittest.TestCase):
    def open_window(self, name, **settings):
        self.directory = harness.scratch_dir(name)
        harness.write_settings(self.directory, minimise_to_tray=1, **settings)
        self.process = harness.start(self.directory, "Pendulark.exe")
        self.addCleanup(harness.finish, self.process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, "20000").returncode, 0)
        self.addCleanup(harness.winctl, "key", WINDOW, "0x1B")
        harness.wait_for_text(WINDOW, 1029, lambda t: t != "Wait...")

    def post(self, *message):
        self.assertEqual(harness.winctl("post", WINDOW, *map(str, message)).returncode, 0)

    def visible(self):
        return harness.winctl("visible", WINDOW).returncode == 0

    def wait_visible(self, wanted, seconds=10):
        deadline = time.monotonic() + seconds
        while self.visible() != wanted and time.monotonic() < deadline:
            time.sleep(0.2)
        return self.visible() == wanted

    def test_minimise_hides_and_a_double_click_restores(self):
        self.open_window("tray-minimise")
        self.post(WM_SYSCOMMAND, SC_MINIMIZE, 0)
        self.assertTrue(self.wait_visible(False), "minimising with Tray did not hide the window")
        # Explorer restarting announces itself; the hidden window stays hidden.
        self.post("TaskbarCreated", 0, 0)
        time.sleep(0.5)
        self.assertFalse(self.visible())
        self.post(TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK)
        self.assertTrue(self.wait_visible(True), "a double click on the icon did not restore the window")

    def test_close_with_resident_keeps_the_program_and_the_menu_exit_ends_it(self):
        self.open_window("tray-resident", resident=1)
        settings = os.path.join(self.directory, "dSync.dat")
        os.remove(settings)
        self.assertEqual(harness.winctl("close", WINDOW).returncode, 0)
        self.assertTrue(self.wait_visible(False))
        time.sleep(1)
        self.assertIsNone(self.process.poll(), "closing with Tray and Resident ended the program")
        self.assertFalse(os.path.exists(settings), "hiding saved the settings")
        # The right button opens the menu; its last item, Exit, saves and ends.
        self.post(TRAY_CALLBACK, 0, WM_RBUTTONDOWN)
        time.sleep(1)
        self.assertEqual(harness.winctl("key", WINDOW, hex(VK_UP)).returncode, 0)
        time.sleep(0.3)
        self.assertEqual(harness.winctl("key", WINDOW, hex(VK_RETURN)).returncode, 0)
        self.assertEqual(harness.finish(self.process, 20), 0, "Exit did not end the program")
        with open(settings, "rb") as f:
            self.assertEqual(len(f.read()), harness.SETTINGS_SIZE)


if __name__ == "__main__":
    unittest.main()
