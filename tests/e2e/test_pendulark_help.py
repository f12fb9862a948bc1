"""Every Help of the real program opens "ReadMe.htm" beside it. The shell is
told to open .htm files with a recorder instead of a browser, for this test."""
import os
import subprocess
import unittest

import harness
from harness import WINDOW, ids

CLASSES = r"HKLM\Software\Classes"


def reg(*args):
    subprocess.run([harness.WINE_RUN, "reg", *args], capture_output=True, timeout=60)


class PendularkHelp(unittest.TestCase):
    def test_help_opens_the_document_beside_the_program(self):
        directory = harness.scratch_dir("help")
        with open(os.path.join(harness.ROOT, "docs", "ReadMe.htm"), "rb") as source:
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

        harness.open_pendulark(self, directory=directory, settings={})
        # The tray menu's Help, as Windows delivers the chosen item.
        self.assertEqual(harness.winctl("post", WINDOW, harness.WM_COMMAND, ids.IDM_TRAY_HELP, 0).returncode, 0)

        def opened_document():
            if os.path.exists(record):
                with open(record, "rb") as f:
                    return f.read().decode("utf-16-le")
            return ""

        opened = harness.wait_until(opened_document, 20, "Help opened nothing")
        self.assertTrue(opened.lower().endswith("\\help\\readme.htm"), opened)
        self.assertTrue(os.path.isfile(os.path.join(directory, "ReadMe.htm")))


if __name__ == "__main__":
    unittest.main()
