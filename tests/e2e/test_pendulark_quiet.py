"""The unattended "/q" run of the real program against loopback servers. Under
Wine the clock accepts only steps below half a second, so a server that agrees
with this clock succeeds and one that does not is refused."""
import os
import unittest

import harness
from harness import PROTOCOL_SNTP, PROTOCOL_TIME, WINDOW

# The window's word on a server an hour ahead that nobody confirms.
UNCONFIRMED_HOUR = r"Unable to sync: no second server confirms \+(3599\.99\d|3600\.00\d) s"


class PendularkQuietRun(unittest.TestCase):
    def quiet_run(self, directory, timeout=60):
        """Runs "/q" to its end and checks it left the settings as they were."""
        saved = harness.saved_settings(directory)
        process = harness.start(directory, "Pendulark.exe", "/q")
        code = harness.finish(process, timeout)
        self.assertEqual(code, 0, "the quiet run did not end by itself")
        self.assertEqual(harness.winctl("gone", WINDOW, 0).returncode, 0)
        self.assertEqual(harness.saved_settings(directory), saved, "the quiet run must not save the settings")

    def test_first_start_makes_the_default_list_and_saves_nothing(self):
        directory, _ = harness.open_pendulark(self, "quiet-first-start")
        with open(os.path.join(directory, "ServFile.txt"), "rb") as f:
            names = f.read().split(b"\r\n")
        self.assertEqual(len(names), 6)
        self.assertEqual(names[-1], b"")
        self.assertFalse(os.path.exists(os.path.join(directory, "dSync.dat")))

    def test_unreachable_servers_are_tried_from_the_chosen_one_round_the_list(self):
        directory = harness.scratch_dir("quiet-unreachable")
        servers = [f"127.0.9.{i + 1}" for i in range(5)]  # nobody listens there
        harness.write_servers(directory, servers)
        harness.write_settings(directory, server_index=2, log_level=1, protocol=PROTOCOL_TIME,
                               sync_timeout_seconds=5)
        self.quiet_run(directory)
        self.assertEqual(harness.log_entries(directory),
                         ["No response from " + servers[i] + " (refused)" for i in (2, 3, 4, 0, 1)])

    def sntp_run(self, name, address, **server):
        directory = harness.scratch_dir(name)
        harness.write_servers(directory, [address])
        # The index just past the one entry: a single attempt, as on a list walked from its end.
        harness.write_settings(directory, server_index=1, log_level=3, protocol=PROTOCOL_SNTP, sync_timeout_seconds=5)
        with harness.ReferenceServer(address, **server) as reference:
            self.quiet_run(directory)
        return reference, harness.log_entries(directory)

    def test_a_server_that_agrees_is_asked_once_and_the_success_logged(self):
        reference, log = self.sntp_run("quiet-agrees", "127.0.9.21")
        self.assertEqual([len(data) for kind, data in reference.requests], [48])
        self.assertEqual(len(log), 1)
        self.assertTrue(log[0].startswith("Pendularked: Old time was "), log)
        self.assertRegex(log[0], r", Server used was 127\.0\.9\.21 \(stratum 1, delay \d+\.\d ms, "
                                 r"root distance \d+\.\d ms\)$")

    def test_a_server_seconds_away_is_refused_by_the_clock(self):
        _, log = self.sntp_run("quiet-offset", "127.0.9.22", offset=7.0)
        self.assertEqual(log, ["Error setting Time Change Privileges (privilege not held)"])

    def test_a_server_on_ipv6_loopback_is_asked_over_ipv6(self):
        reference, log = self.sntp_run("quiet-ipv6", "::1")
        self.assertEqual(reference.count("sntp"), 1)
        self.assertEqual(len(log), 1, log)
        self.assertIn(", Server used was ::1 (stratum 1, ", log[0])

    def test_a_first_server_an_hour_off_is_checked_with_a_second_that_disagrees(self):
        directory = harness.scratch_dir("quiet-second-opinion")
        far, near = "127.0.9.24", "127.0.9.25"
        harness.write_servers(directory, [far, near])
        harness.write_settings(directory, server_index=0, log_level=1, protocol=PROTOCOL_SNTP, sync_timeout_seconds=5)
        with harness.ReferenceServer(far, offset=3600.0), harness.ReferenceServer(near, offset=0.2) as second:
            self.quiet_run(directory)
        self.assertGreaterEqual(second.count("sntp"), 1)
        log = harness.log_entries(directory)
        self.assertEqual(len(log), 1, log)
        # An hour, give or take the millisecond that the round trip's asymmetry may put either side.
        self.assertRegex(log[0], r"^Not stepped by \+(3599\.99\d|3600\.00\d) s: only 127\.0\.9\.24 says so, "
                                 r"no second server agrees$")

    def far_run(self, name, servers, **settings):
        """A run at logon over servers, each an address and its reference server's
        arguments; the log, errors and successes alike."""
        directory = harness.scratch_dir(name)
        harness.write_servers(directory, [address for address, _ in servers])
        harness.write_settings(directory, server_index=len(servers), log_level=3, protocol=PROTOCOL_SNTP,
                               sync_timeout_seconds=5, **settings)
        references = [harness.ReferenceServer(address, **server) for address, server in servers]
        try:
            self.quiet_run(directory)
        finally:
            for reference in references:
                reference.close()
        return harness.log_entries(directory)

    def test_a_liars_dispersion_buys_no_agreement_and_two_that_agree_outvote_a_far_first(self):
        # An hour ahead with a dispersion to match, beside an honest server.
        log = self.far_run("quiet-liar", [("127.0.9.26", dict(offset=3600.0, dispersion=3700)), ("127.0.9.27", {})])
        self.assertEqual(len(log), 1, log)
        self.assertRegex(log[0], r"^Not stepped by \+(3599\.99\d|3600\.00\d) s: only 127\.0\.9\.26 says so")
        # An hour ahead first, then two that agree: theirs is the correction.
        log = self.far_run("quiet-outvoted", [("127.0.9.26", dict(offset=3600.0)), ("127.0.9.27", {}),
                                              ("127.0.9.28", {})])
        self.assertEqual(len(log), 2, log)
        self.assertRegex(log[0], r"^127\.0\.9\.26 dropped: \+(3599\.99\d|3600\.00\d) s, 2 others agree on ")
        self.assertRegex(log[1], r"^Pendularked: Old time was .*, Server used was 127\.0\.9\.27 ")

    def test_a_clock_kept_half_an_hour_ahead_is_corrected(self):
        # The server is half an hour behind this clock: with Offset that is no step.
        log = self.far_run("quiet-offset-user", [("127.0.9.29", dict(offset=-1800.0))], offset_minutes=30,
                           offset_direction=0)
        self.assertEqual(len(log), 1, log)
        self.assertTrue(log[0].startswith("Pendularked: Old time was "), log)

    def window_says(self, directory, status, **start):
        """The window, started on directory, until its status line matches status;
        it ends with the test."""
        process = harness.start(directory, "Pendulark.exe", **start)
        self.addCleanup(harness.finish, process, 30)
        self.assertEqual(harness.winctl("wait", WINDOW, 20000).returncode, 0, "the main window never appeared")
        self.addCleanup(harness.winctl, "key", WINDOW, hex(harness.VK_ESCAPE))
        harness.wait_for_text(WINDOW, harness.ids.IDT_MAIN_STATUS, status, 60)

    def test_one_host_at_two_addresses_does_not_confirm_its_own_hour(self):
        # The window's start action "Correct Time", as at a start of the program.
        directory = harness.scratch_dir("window-one-host")
        hosts = os.path.join(directory, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost\n127.0.9.31 pool.test\n127.0.9.32 pool.test\n")
        harness.write_servers(directory, ["pool.test"])
        settings = dict(server_index=1, log_level=1, protocol=PROTOCOL_SNTP, sync_timeout_seconds=5,
                        program_start_action=2)
        harness.write_settings(directory, **settings)
        first = harness.ReferenceServer("127.0.9.31", offset=3600.0)
        with first, harness.ReferenceServer("127.0.9.32", offset=3600.0, reference=first.reference) as second:
            self.window_says(directory, UNCONFIRMED_HOUR, hosts=hosts)
            self.assertEqual(second.count("sntp"), 1, "the name's other address was not asked")
        log = harness.log_entries(directory)
        self.assertEqual(len(log), 1, log)
        self.assertRegex(log[0], r"^Not stepped by .* s: only pool\.test \[127\.0\.9\.31\] says so")

    def test_a_typed_in_server_averaged_is_one_opinion(self):
        # Average, Manual A an hour ahead, and the window's start action "Correct Time".
        directory = harness.scratch_dir("window-manual-average")
        harness.write_settings(directory, server_source=harness.SOURCE_MANUAL_A, manual_address_a=b"127.0.9.33",
                               multi_site_average=1, log_level=1, protocol=PROTOCOL_SNTP, sync_timeout_seconds=5,
                               program_start_action=2)
        with harness.ReferenceServer("127.0.9.33", offset=3600.0) as reference:
            self.window_says(directory, UNCONFIRMED_HOUR)
            self.assertEqual(reference.count("sntp"), 1, "the typed-in server was asked more than once")

    def test_a_kiss_of_death_sets_nothing(self):
        reference, log = self.sntp_run("quiet-kod", "127.0.9.23", mode="kod")
        self.assertEqual(reference.count("sntp"), 1)
        self.assertEqual(log, ["No response from 127.0.9.23 (kiss-o'-death RATE)"])

    def test_a_start_of_the_window_ends_a_run_at_logon_that_waits(self):
        directory = harness.scratch_dir("quiet-then-window")
        address = "127.0.9.25"
        harness.write_servers(directory, [address])
        harness.write_settings(directory, server_index=1, log_level=3, protocol=PROTOCOL_SNTP, sync_timeout_seconds=90)
        with harness.ReferenceServer(address, mode="silent") as reference:
            quiet = harness.start(directory, "Pendulark.exe", "/q")
            self.addCleanup(harness.finish, quiet, 10)
            harness.wait_until(lambda: reference.count("sntp") == 1, 30, "the run at logon asked nobody")
            # The user's start: the window comes, and the run at logon is gone.
            harness.open_pendulark(self, directory=directory, initialised=False)
            self.assertEqual(harness.finish(quiet, 30), 0, "the run at logon did not end when told")
        self.assertEqual(harness.log_entries(directory), [], "a stop is no failure to log")

    def test_a_renamed_copy_keeps_its_files_and_its_logon_task_starts_its_quiet_run(self):
        # A path with a space and a copy renamed as a browser names a second
        # download: the cases an unquoted value or the usual name got wrong.
        directory = harness.scratch_dir("quiet at logon")
        copy = "Pendulark (1).exe"
        os.rename(os.path.join(directory, "Pendulark.exe"), os.path.join(directory, copy))
        address = "127.0.9.24"
        settings_file = os.path.join(directory, "dSync.dat")

        def save_with(action):
            settings = dict(server_index=1, log_level=3, protocol=PROTOCOL_SNTP, sync_timeout_seconds=5,
                            windows_start_action=action)
            _, process = harness.open_pendulark(self, directory=directory, settings=settings, program_file=copy)
            os.remove(settings_file)  # read by now; the save must write it here again
            harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
            self.assertEqual(harness.finish(process, 30), 0)
            self.assertTrue(os.path.isfile(settings_file), "the settings were not saved beside the copy")
            commands = harness.logon_task_commands()
            return commands[0] if len(commands) == 1 else commands

        self.addCleanup(save_with, 0)  # no task is left in the prefix
        self.assertRegex(save_with(1), r'^"[A-Z]:\\.*\\quiet at logon\\Pendulark \(1\)\.exe"$')
        self.assertTrue(os.path.isfile(os.path.join(directory, "ServFile.txt")), "no list beside the copy")
        harness.write_servers(directory, [address])
        value = save_with(2)
        self.assertRegex(value, r'^"[A-Z]:\\.*\\quiet at logon\\Pendulark \(1\)\.exe" /q$')
        with harness.ReferenceServer(address) as reference:
            self.assertEqual(harness.winctl("run", value, timeout=150).returncode, 0)
        self.assertEqual(reference.count("sntp"), 1)
        self.assertTrue(harness.log_entries(directory)[-1].startswith("Pendularked: Old time was "))


if __name__ == "__main__":
    unittest.main()
