"""The set-up against stand-ins for apt-get, dpkg and dpkg-query, never the
machine's own lists: a mirror in the middle of a sync, an install that fails,
hosts with and without 32-bit code."""
import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SETUP = os.path.join(ROOT, "tools", "setup-deps.sh")

# One stand-in serves as every command: it keeps the machine in files of
# FAKE_DIR and writes each call to calls.txt.
STAND_IN = r"""#!/bin/bash
cd "$FAKE_DIR" || exit 9
echo "$(basename "$0") $*" >> calls.txt
# Counts down a number kept in a file; true while it was still above zero.
failing() { local n; n=$(cat "$1"); echo $((n - 1)) > "$1"; [ "$n" -gt 0 ]; }
case "$(basename "$0") $1" in
"dpkg-query -W")
    shift 2
    printf '%s\n' "$@" | grep -xF -f installed.txt | sed 's/$/ install ok installed/' ;;
"dpkg --print-foreign-architectures") cat architectures.txt ;;
"dpkg --add-architecture") echo "$2" >> architectures.txt ;;
"locale -a") printf 'C\nC.utf8\nzh_CN.utf8\n' ;;
"apt-get update")
    if failing updates_failing; then
        echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size (374820 != 376004)." \
             "Mirror sync in progress?"
        exit 100
    fi ;;
"apt-get install")
    if [ -s install_error ]; then cat install_error; exit 100; fi
    for package; do case $package in install|-*) ;; *) echo "$package" >> installed.txt ;; esac; done ;;
"apt-get download")
    if failing downloads_failing; then
        echo "E: Failed to fetch .../chrony_4.3-2_amd64.deb  File has unexpected size"
        exit 100
    fi
    : > "$OLDPWD/$3_4.3-2_amd64.deb" ;;
esac
exit 0
"""


class SetUp(unittest.TestCase):
    def run_setup(self, *args, i386=False, installed=(), architectures=(), updates_failing=0,
                  install_error="", downloads_failing=0):
        fake = tempfile.mkdtemp(prefix="setup-fake-")
        self.addCleanup(shutil.rmtree, fake, True)
        self.fake = fake
        for command in ("apt-get", "dpkg", "dpkg-query", "locale", "locale-gen"):
            with open(os.path.join(fake, command), "w") as f:
                f.write(STAND_IN)
            os.chmod(os.path.join(fake, command), 0o755)
        for name, text in (("installed.txt", "".join(p + "\n" for p in installed)),
                           ("architectures.txt", "".join(a + "\n" for a in architectures)),
                           ("updates_failing", str(updates_failing)), ("install_error", install_error),
                           ("downloads_failing", str(downloads_failing)), ("calls.txt", "")):
            with open(os.path.join(fake, name), "w") as f:
                f.write(text)
        env = dict(os.environ, PATH=fake + ":" + os.environ["PATH"], FAKE_DIR=fake,
                   SETUP_I386="1" if i386 else "0", SETUP_PAUSE_SECONDS="0")
        args = [a.replace("FAKE", fake) for a in args]
        result = subprocess.run([SETUP, *args], env=env, capture_output=True, text=True, timeout=60)
        self.calls = self.read("calls.txt").splitlines()
        return result

    def read(self, name):
        with open(os.path.join(self.fake, name)) as f:
            return f.read()

    def apt_calls(self, verb):
        return [call for call in self.calls if call.startswith("apt-get") and f" {verb}" in call]

    def test_lists_that_fail_to_download_still_serve_the_install(self):
        for updates_failing, updates in ((0, 1), (2, 3), (9, 3)):
            with self.subTest(updates_failing=updates_failing):
                result = self.run_setup(updates_failing=updates_failing)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(len(self.apt_calls("update")), updates)
                self.assertEqual(len(self.apt_calls("install")), 1)

    def test_a_failed_install_ends_red_with_one_line_that_says_why(self):
        error = "E: Package 'xvfb' has no installation candidate"
        result = self.run_setup(updates_failing=9, install_error=error)
        self.assertNotEqual(result.returncode, 0)
        last = result.stderr.strip().splitlines()[-1]
        self.assertRegex(last, r"^setup: could not install cmake make .* iproute2: ")
        self.assertIn(error, last)
        self.assertIn("mirror may be in the middle of a sync", last)

    def test_i386_is_asked_for_only_where_the_host_runs_32_bit_code(self):
        self.run_setup(i386=False)
        self.assertFalse([call for call in self.calls if "i386" in call or "wine32" in call], self.calls)
        self.run_setup(i386=True)
        self.assertIn("dpkg --add-architecture i386", self.calls)
        self.assertIn("wine32", self.apt_calls("install")[0].split())

    def test_a_machine_that_has_everything_asks_apt_for_nothing(self):
        for i386 in (False, True):
            self.run_setup(i386=i386)
            installed, architectures = (self.read(name).split() for name in ("installed.txt", "architectures.txt"))
            again = self.run_setup(i386=i386, installed=installed, architectures=architectures)
            self.assertEqual(again.returncode, 0, again.stderr)
            self.assertEqual(self.apt_calls(""), [])

    def test_a_download_is_tried_again_and_fails_in_one_line(self):
        for failing, code in ((2, 0), (3, 1)):
            with self.subTest(downloads_failing=failing):
                result = self.run_setup("--download", "chrony", "FAKE/chrony", downloads_failing=failing)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertEqual(len(self.apt_calls("download")), 3)
                self.assertEqual(os.path.exists(os.path.join(self.fake, "chrony", "chrony_4.3-2_amd64.deb")),
                                 code == 0)
                if code:
                    self.assertRegex(result.stderr.strip().splitlines()[-1],
                                     r"^setup: could not download chrony: E: Failed to fetch .* mirror may be")


if __name__ == "__main__":
    unittest.main()
