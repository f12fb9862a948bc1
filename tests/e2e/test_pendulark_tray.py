"""The tray as Windows drives it, by the messages it would send: minimising
with "Tray" hides the window, a double click on the icon or a second start
brings it back, closing with "Tray" and "Resident" keeps the program, the
menu's Exit ends it."""
import os
import unittest

import harness
from harness import WINDOW, ids

MENU = "#32768"  # the class of a shown pop-up menu
WM_SYSCOMMAND, SC_MINIMIZE = 0x112, 0xF020
WM_LBUTTONDBLCLK, WM_RBUTTONDOWN = 0x203, 0x204


class PendularkTray(unittest.TestCase):
    def open_window(self, name, **settings):
        self.directory, self.process = harness.open_pendulark(self, name,
                                                              settings=dict(minimise_to_tray=1, **settings))

    def post(self, *message):
        self.assertEqual(harness.winctl("post", WINDOW, *message).returncode, 0)

    def key(self, key):
        self.assertEqual(harness.winctl("key", WINDOW, hex(key)).returncode, 0)

    def visible(self):
        return harness.winctl("visible", WINDOW).returncode == 0

    def wait_hidden(self, what):
        # Hidden, not gone: "visible" cannot tell the two apart.
        harness.wait_until(lambda: not self.visible(), 10, what)
        self.assertEqual(harness.winctl("wait", WINDOW, 0).returncode, 0, "the window is gone")

    def open_menu(self):
        """The right button on the icon. The menu shows that the program handled
        this message, and so every message posted to it before."""
        self.post(ids.WM_TRAY_CALLBACK, 0, WM_RBUTTONDOWN)
        self.assertEqual(harness.winctl("wait", MENU, 10000).returncode, 0, "the tray menu never opened")

    def second_start(self, *args):
        self.assertEqual(harness.finish(harness.start(self.directory, "Pendulark.exe", *args), 30), 0,
                         "the second copy did not end by itself")

    def test_minimise_hides_and_a_double_click_or_a_second_start_restores(self):
        self.open_window("tray-minimise")
        self.post(WM_SYSCOMMAND, SC_MINIMIZE, 0)
        self.wait_hidden("minimising with Tray did not hide the window")
        # Explorer restarting announces itself, and an unattended second start
        # ends unseen: the hidden window stays hidden.
        self.post("TaskbarCreated", 0, 0)
        self.second_start("/q")
        self.open_menu()
        self.assertFalse(self.visible(), "the announcement or the quiet second start showed the window")
        self.key(harness.VK_ESCAPE)
        self.assertEqual(harness.winctl("gone", MENU, 10000).returncode, 0, "Esc did not close the menu")
        self.post(ids.WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK)
        harness.wait_until(self.visible, 10, "a double click on the icon did not restore the window")
        # A user who starts the program again wants to see the copy that runs.
        self.post(WM_SYSCOMMAND, SC_MINIMIZE, 0)
        self.wait_hidden("minimising again did not hide the window")
        self.second_start()
        harness.wait_until(self.visible, 10, "a second start did not restore the window")

    def test_close_with_resident_keeps_the_program_and_the_menu_exit_ends_it(self):
        self.open_window("tray-resident", resident=1)
        settings = os.path.join(self.directory, "dSync.dat")
        os.remove(settings)
        self.assertEqual(harness.winctl("close", WINDOW).returncode, 0)
        self.wait_hidden("closing with Tray and Resident did not hide the window")
        self.open_menu()
        self.assertIsNone(self.process.poll(), "closing with Tray and Resident ended the program")
        self.assertFalse(os.path.exists(settings), "hiding saved the settings")
        # The menu's last item, Exit, saves and ends.
        self.key(harness.VK_UP)
        self.key(harness.VK_RETURN)
        self.assertEqual(harness.finish(self.process, 20), 0, "Exit did not end the program")
        with open(settings, "rb") as f:
            self.assertEqual(len(f.read()), harness.SETTINGS_SIZE)


if __name__ == "__main__":
    unittest.main()
