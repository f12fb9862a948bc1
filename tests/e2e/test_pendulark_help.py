"""Every Help of the real program opens "ReadMe.htm" beside it. The shell is
told to open .htm files with a recorder instead of a browser, for this test."""
import os
import subprocess
import time
import unittest

import harness

WINDOW = "PENDULARK"
WM_COMMAND, TRAY_HELP = 0x111, 6
CLASSES = r"HKLM\Software\Classes"


def reg(*args):
    subprocess.run([harness.WINE_RUN, "reg", *args], capture_output=True, timeout=60)


class PendularkHelp(unittest.TestCase):
    def test_help_opens_the_document_beside_the_program(self):
        directory = harness.scratch_dir("help")
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        with open(os.path.join(root, "docs", "ReadMe.htm"), "rb") as source:
            with open(os.path.join(directory, "ReadMe.htm"), "wb") as copy:
                copy.write(source.read())
        record = os.path.join(directory, "opened.txt")
        winctl = "Z:" + os.path.join(harness.bin_dir(), "winctl.exe").replace("/", "\\")
        target = "Z:" + record.replace("/", "\\")
        reg("add", CLASSES + r"\.htm", "/ve", "/d", "PendularkTestHelp", "/f")
        reg("add", CLASSES + r"\PendularkTestHelp\shell\open\command", "/ve", "/d",
            f'"{winctl}" record "{target}" "%1"', "/f")
        self.addCleanup(reg, "delete", CLASSES + r"\PendularkTestHelp", "/f")
        self.addCleanup(reg, "add", CLASSES + r"\.htm", "/ve", "/d", "htmlfile", "/f")  # Wine's own

        harness.write_settings(directory)
        process = harness.start(directory, "Pendulark.exe")
        self.addCleanup(harness.finish, process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, "20000").returncode, 0)
        self.addCleanup(harness.winctl, "key", WINDOW, "0x1B")
        # The tray menu's Help, as Windows delivers the chosen item.
        self.assertEqual(harness.winctl("post", WINDOW, str(WM_COMMAND), str(TRAY_HELP), "0").returncode, 0)
        deadline = time.monotonic() + 20
        while not os.path.exists(record) and time.monotonic() < deadline:
            time.sleep(0.2)
        with open(record, "rb") as f:
            opened = f.read().decode("utf-16-le")
        self.assertTrue(opened.lower().endswith("\\help\\readme.htm"), opened)
        self.assertTrue(os.path.isfile(os.path.join(directory, "ReadMe.htm")))


if __name__ == "__main__":
    unittest.main()
