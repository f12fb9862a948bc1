"""The Windows installer, silent, as an administrator runs it: programs,
shortcuts and an uninstall entry that tells the truth; an upgrade or an
uninstall ends a running Pendulark through its own Exit, so that its settings
are saved, and an upgrade goes where the last install went; the installed
program keeps its data in the user's folder; a new install keeps the time as a
service, an upgrade keeps the service it had or had not; the uninstaller
leaves no service, program, shortcut or Run value, and leaves the user's data. The setup and the
programs name their version and maker."""
import glob
import os
import re
import shutil
import struct
import subprocess
import unittest

import harness
from harness import program

# make test-e2e names the installer of the programs that Wine runs here.
SETUP = os.environ.get("PENDULARK_SETUP", os.path.join(
    harness.ROOT, "build", f"Pendulark-{program.PROGRAM_VERSION_TEXT}-setup.exe"))
PREFIX = os.path.join(harness.wine_prefix(), "drive_c")
# A 32-bit installer on 64-bit Windows writes to the 32-bit view of HKLM.
UNINSTALL_KEYS = (r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Pendulark",
                  r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pendulark")
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
PROGRAMS = ("Pendulark.exe", "Sumwick.exe", "ReadMe.htm", "DefSet.txt", "Uninstall.exe")
START_MENU = os.path.join(PREFIX, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs")
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\Pendulark"
SESSION_MANAGER = r"HKLM\System\CurrentControlSet\Control\Session Manager"
PENDING_RENAMES = "PendingFileRenameOperations"
SILENT_SERVER = "127.0.0.126"
OLDER_BUILD = b"older build"
CHOSEN_DIR = os.path.join(PREFIX, "Tools", "Pendulark")


def wine(*args, timeout=120):
    return subprocess.run([harness.WINE_RUN, *args], capture_output=True, timeout=timeout)


def reg_value(key, value):
    """The data of a registry value as `reg query` prints it, or None."""
    done = wine("reg", "query", key, "/v", value)
    found = re.search(rf"^\s+{re.escape(value)}\s+REG_\w+\s+(.*?)\s*$", done.stdout.decode("utf-8", "replace"), re.M)
    return found.group(1) if done.returncode == 0 and found else None


def uninstall_entry(value):
    return next((data for key in UNINSTALL_KEYS if (data := reg_value(key, value)) is not None), None)


def windows_path(path):
    return "C:" + path[len(PREFIX):].replace("/", "\\")


def program_files_dir():
    for folder in ("Program Files (x86)", "Program Files"):
        path = os.path.join(PREFIX, folder, "Pendulark")
        if os.path.isdir(path):
            return path
    return None


def data_dir():
    """Where the installed program keeps this user's settings, list and log."""
    users = glob.glob(os.path.join(PREFIX, "users", "*", "AppData", "Roaming"))
    assert len(users) == 1, users
    return os.path.join(users[0], "Brenlo", "Pendulark")


def settings_file():
    return os.path.join(data_dir(), "dSync.dat")


def age_program(directory):
    """An older build in place of the setup's, for an upgrade to replace."""
    with open(os.path.join(directory, "Pendulark.exe"), "ab") as f:
        f.write(OLDER_BUILD)


def version_strings(path):
    """The texts of a PE file's version resource, the block that opens with the
    key "VS_VERSION_INFO": nodes of a length, a value length, a type (1 for text),
    a key, a value and children, each 32-bit aligned."""
    with open(path, "rb") as f:
        data = f.read()
    start = data.find("VS_VERSION_INFO".encode("utf-16-le")) - 6
    assert start >= 0, f"{path} has no version resource"
    texts = {}

    def walk(node):
        length, value_length, is_text = struct.unpack_from("<3H", data, node)
        key_end = data.index(b"\0\0", node + 6)
        key_end += (key_end - node) % 2
        value = (key_end + 5) & ~3
        value_end = value + value_length * (2 if is_text else 1)
        if is_text and value_length:
            texts[data[node + 6:key_end].decode("utf-16-le")] = data[value:value_end].decode("utf-16-le").rstrip("\0")
        child = (value_end + 3) & ~3
        while child < node + length:
            child = (child + walk(child) + 3) & ~3
        return length

    walk(start)
    return texts


def icon_images():
    with open(os.path.join(harness.ROOT, "resources", "pendulark.ico"), "rb") as f:
        ico = f.read()
    entries = (struct.unpack_from("<8xII", ico, 6 + 16 * i) for i in range(struct.unpack_from("<4xH", ico)[0]))
    return [ico[offset:offset + size] for size, offset in entries]


def carries_program_icon(path):
    with open(path, "rb") as f:
        data = f.read()
    return all(image in data for image in icon_images())


class Installer(unittest.TestCase):
    def setUp(self):
        # A run that failed halfway leaves an install behind; each test starts from
        # none, and from no user data.
        for key in UNINSTALL_KEYS:
            wine("reg", "delete", key, "/f")
        for directory in (program_files_dir(), CHOSEN_DIR, data_dir()):
            if directory:
                shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(data_dir())

    def run_setup(self, *args, service="0"):
        """service: the page's choice, or None for what it offers."""
        self.assertTrue(os.path.isfile(SETUP), "make release builds the installer first")
        choice = () if service is None else (f"/SERVICE={service}",)
        # /D= comes last, as NSIS reads it.
        self.assertEqual(wine(SETUP, "/S", *choice, *args).returncode, 0)

    def service_runs(self):
        return b"RUNNING" in wine("sc", "query", "Pendulark").stdout

    def assert_installed(self, directory):
        """The setup's programs in directory, and an entry that says so."""
        for name in PROGRAMS:
            self.assertTrue(os.path.isfile(os.path.join(directory, name)), name)
        for name in ("Pendulark.exe", "Sumwick.exe"):
            with open(os.path.join(directory, name), "rb") as installed, \
                    open(os.path.join(harness.bin_dir(), name), "rb") as shipped:
                self.assertTrue(installed.read() == shipped.read(), f"{name} was not replaced")
        self.assertEqual(uninstall_entry("DisplayVersion"), program.PROGRAM_VERSION_TEXT)
        self.assertEqual(uninstall_entry("InstallLocation"), windows_path(directory))

    def start_resident(self, directory, **settings):
        """The installed Pendulark with "Tray" and "Resident" on, where closing its
        window only hides it, and its saved settings dated long ago."""
        harness.write_settings(data_dir(), minimise_to_tray=1, resident=1, **settings)
        os.utime(settings_file(), (0, 0))
        age_program(directory)
        return harness.open_pendulark(self, directory=directory)[1]

    def assert_ended_and_saved(self, process):
        # Its window ends with it (the uninstaller's own call may open another at once).
        self.assertEqual(harness.finish(process, 30), 0, "the running program was not ended")
        self.assertGreater(os.path.getmtime(settings_file()), 0, "the program ended without saving")

    def uninstall(self, directory, running=None):
        # Not through pipes: the uninstaller's copy of itself would hold them.
        self.assertEqual(harness.finish(harness.start(directory, "Uninstall.exe", "/S"), 120), 0)
        if running:
            self.assert_ended_and_saved(running)

        # The uninstaller runs on from a copy of itself.
        harness.wait_until(lambda: not os.path.isdir(directory), 90, "the programs were not removed")
        self.assertIsNone(uninstall_entry("DisplayVersion"), "the uninstall entry was left behind")

    def test_install_upgrade_and_uninstall_while_the_program_runs(self):
        self.run_setup()
        directory = program_files_dir()
        self.assertIsNotNone(directory, "nothing was installed under Program Files")
        self.assert_installed(directory)
        self.assertEqual(uninstall_entry("Publisher"), program.PROGRAM_COMPANY_NAME)
        size = sum(os.path.getsize(path) for path in glob.glob(os.path.join(directory, "*")))
        self.assertEqual(int(uninstall_entry("EstimatedSize"), 16), size // 1024)
        self.assertTrue(carries_program_icon(os.path.join(directory, "Uninstall.exe")))
        self.assertEqual(sorted(os.path.basename(s) for s in glob.glob(os.path.join(START_MENU, "Pendulark", "*"))),
                         ["Pendulark Help.lnk", "Pendulark.lnk", "Sumwick.lnk"])

        running = self.start_resident(directory)
        self.run_setup(service=None)
        self.assert_ended_and_saved(running)
        self.assertIsNone(reg_value(SERVICE_KEY, "ImagePath"), "an upgrade gained a service unasked")
        self.assert_installed(directory)
        # The installed program keeps its settings in the user's folder, not beside it.
        self.assertFalse(os.path.exists(os.path.join(directory, "dSync.dat")))

        # Ended by the uninstaller, it registers its logon task, which goes too.
        running = self.start_resident(directory, windows_start_action=1)
        wine("reg", "add", RUN_KEY, "/v", "Pendulark.exe", "/d", '"C:\\x\\Pendulark.exe" /q', "/f")
        self.uninstall(directory, running)
        self.assertEqual(glob.glob(os.path.join(START_MENU, "Pendulark*")), [])
        self.assertIsNone(reg_value(RUN_KEY, "Pendulark.exe"), "the Run value was left behind")
        tasks = os.path.join(harness.wine_prefix(), "drive_c", "windows", "system32", "tasks", "Pendulark")
        self.assertFalse(os.path.exists(tasks), "the logon tasks were left behind")
        self.assertTrue(os.path.isfile(settings_file()), "the user's settings went with the programs")

    def test_upgrade_stays_in_the_folder_of_the_install_and_replaces_a_held_file_at_restart(self):
        self.run_setup("/D=" + windows_path(CHOSEN_DIR))
        age_program(CHOSEN_DIR)
        # A browser showing the help holds ReadMe.htm. No restart comes to take the replacement.
        self.addCleanup(wine, "reg", "delete", SESSION_MANAGER, "/v", PENDING_RENAMES, "/f")
        holder = subprocess.Popen([harness.WINE_RUN, os.path.join(harness.bin_dir(), "winctl.exe"), "hold",
                                   "ReadMe.htm", "none"], cwd=CHOSEN_DIR, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(harness.finish, holder, 10)
        self.addCleanup(holder.stdin.close)
        self.assertEqual(holder.stdout.readline().strip(), b"held")
        # "Restart required" (3010), cut to the eight bits of a Unix exit status.
        self.assertEqual(wine(SETUP, "/S").returncode, 3010 & 0xFF)
        holder.stdin.close()
        self.assert_installed(CHOSEN_DIR)
        self.assertIsNone(program_files_dir(), "a second copy went to Program Files")
        self.assertIn("ReadMe.htm.new", reg_value(SESSION_MANAGER, PENDING_RENAMES) or "")
        self.uninstall(CHOSEN_DIR)


    def test_a_program_that_does_not_end_cancels_a_silent_setup(self):
        self.run_setup()
        directory = program_files_dir()
        harness.write_settings(data_dir(), protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=60)
        harness.write_servers(data_dir(), [SILENT_SERVER])
        # A quiet run at logon, waiting on a server that never answers, has no window to ask.
        with harness.ReferenceServer(SILENT_SERVER, mode="silent") as reference:
            quiet = harness.start(directory, "Pendulark.exe", "/q")
            harness.wait_until(lambda: reference.requests, 30, "the quiet run never asked its server")
            age_program(directory)
            self.assertEqual(wine(SETUP, "/S").returncode, 2)
            harness.finish(quiet, 0)
        with open(os.path.join(directory, "Pendulark.exe"), "rb") as f:
            self.assertTrue(f.read().endswith(OLDER_BUILD), "the program was replaced while it ran")
        self.uninstall(directory)


    def test_a_new_install_keeps_the_time_as_a_service_and_an_upgrade_keeps_it(self):
        # The service asks nobody but loopback, with the settings it copies from this user.
        harness.write_servers(data_dir(), [SILENT_SERVER])
        harness.write_settings(data_dir(), sync_timeout_seconds=5)
        shutil.rmtree(os.path.join(PREFIX, "ProgramData", "Brenlo"), ignore_errors=True)
        self.addCleanup(wine, "sc", "delete", "Pendulark")
        self.addCleanup(wine, "sc", "stop", "Pendulark")
        self.run_setup(service=None)
        directory = program_files_dir()
        self.assertEqual(reg_value(SERVICE_KEY, "ImagePath"), f'"{windows_path(directory)}\\Pendulark.exe" /service')
        self.assertTrue(self.service_runs())
        age_program(directory)
        self.run_setup(service=None)
        self.assert_installed(directory)
        self.assertTrue(self.service_runs(), "the upgrade did not keep the service")
        self.uninstall(directory)
        self.assertIsNone(reg_value(SERVICE_KEY, "ImagePath"), "the service was left behind")

class VersionInformation(unittest.TestCase):
    def test_setup_and_programs_name_their_version_and_maker(self):
        maker = {"CompanyName": program.PROGRAM_COMPANY_NAME, "LegalCopyright": program.PROGRAM_COPYRIGHT}
        expected = {
            SETUP: dict(maker, ProductName="Pendulark", FileVersion=program.PROGRAM_VERSION_DOTTED,
                        ProductVersion=program.PROGRAM_VERSION_DOTTED,
                        FileDescription=f"Pendulark {program.PROGRAM_VERSION_TEXT} Setup"),
            os.path.join(harness.bin_dir(), "Pendulark.exe"): maker,
            os.path.join(harness.bin_dir(), "Sumwick.exe"): maker,
        }
        for path, texts in expected.items():
            with self.subTest(os.path.basename(path)):
                found = version_strings(path)
                self.assertEqual({key: found.get(key) for key in texts}, texts)
        self.assertTrue(carries_program_icon(SETUP), "the setup carries another icon")


if __name__ == "__main__":
    unittest.main()
