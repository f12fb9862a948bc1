"""The Windows installer, silent, as an administrator would run it: programs,
shortcuts and an uninstall entry; the installed program keeps its data in the
user's folder; the uninstaller leaves no program, shortcut or Run value, and
leaves the user's data."""
import glob
import os
import subprocess
import unittest

import harness
from harness import WINDOW

# make test-e2e names the installer of the programs that Wine runs here.
SETUP = os.environ.get("PENDULARK_SETUP", os.path.join(
    harness.ROOT, "build", f"Pendulark-{harness.program.PROGRAM_VERSION_TEXT}-setup.exe"))
PREFIX = os.path.join(harness.wine_prefix(), "drive_c")
# A 32-bit installer on 64-bit Windows writes to the 32-bit view of HKLM.
UNINSTALL_KEYS = (r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Pendulark",
                  r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pendulark")
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
PROGRAMS = ("Pendulark.exe", "Sumwick.exe", "ReadMe.htm", "DefSet.txt", "Uninstall.exe")


def wine(*args, timeout=120):
    return subprocess.run([harness.WINE_RUN, *args], capture_output=True, timeout=timeout)


def reg_has(key, value=None):
    args = ["reg", "query", key] + (["/v", value] if value else [])
    return wine(*args).returncode == 0


def installed_dir():
    for folder in ("Program Files (x86)", "Program Files"):
        path = os.path.join(PREFIX, folder, "Pendulark")
        if os.path.isdir(path):
            return path
    return None


class Installer(unittest.TestCase):
    def test_silent_install_use_and_uninstall(self):
        self.assertTrue(os.path.isfile(SETUP), "make release builds the installer first")
        self.assertEqual(wine(SETUP, "/S").returncode, 0)
        directory = installed_dir()
        self.assertIsNotNone(directory, "nothing was installed under Program Files")
        for name in PROGRAMS:
            self.assertTrue(os.path.isfile(os.path.join(directory, name)), name)
        shortcuts = glob.glob(os.path.join(PREFIX, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                                           "Pendulark", "*.lnk"))
        self.assertEqual(sorted(os.path.basename(s) for s in shortcuts),
                         ["Pendulark Help.lnk", "Pendulark.lnk", "Sumwick.lnk"])
        self.assertTrue(any(reg_has(key, "DisplayVersion") for key in UNINSTALL_KEYS))

        # The installed program keeps its settings in the user's folder, not beside it.
        _, process = harness.open_pendulark(self, directory=directory)
        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.finish(process, 30), 0)
        self.assertFalse(os.path.exists(os.path.join(directory, "dSync.dat")))
        data = glob.glob(os.path.join(PREFIX, "users", "*", "AppData", "Roaming", "Brenlo", "Pendulark", "dSync.dat"))
        self.assertEqual(len(data), 1, "no settings in the application-data folder")

        wine("reg", "add", RUN_KEY, "/v", "Pendulark.exe", "/d", '"C:\\x\\Pendulark.exe" /q', "/f")
        # The uninstaller runs on from a copy of itself; wait for it to finish.
        self.assertEqual(wine(os.path.join(directory, "Uninstall.exe"), "/S").returncode, 0)
        harness.wait_until(lambda: not os.path.isdir(directory), 60, "the programs were not removed")
        self.assertEqual(glob.glob(os.path.join(PREFIX, "ProgramData", "Microsoft", "Windows", "Start Menu",
                                                "Programs", "Pendulark*")), [])
        self.assertFalse(reg_has(RUN_KEY, "Pendulark.exe"), "the Run value was left behind")
        self.assertFalse(any(reg_has(key) for key in UNINSTALL_KEYS))
        self.assertTrue(os.path.isfile(data[0]), "the user's settings went with the programs")


if __name__ == "__main__":
    unittest.main()
