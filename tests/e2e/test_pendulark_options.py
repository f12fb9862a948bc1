"""The Options dialog of the real program, over a list without an entry: fields
of every kind changed and kept, Cancel that keeps nothing, Reset that asks over
Options and acts at once, and the time server that answers as soon as "Server"
is ticked."""
import os
import re
import unittest

import harness
from harness import WINDOW, ids

OPTIONS, QUESTION = "#32770:Options", "#32770:Pendulark " + harness.program.PROGRAM_VERSION_TEXT


class PendularkOptions(unittest.TestCase):
    def start(self, servers=("# no entry yet",), **settings):
        # By default a list of comments only: the list stays the source all the same.
        self.directory, self.process = harness.open_pendulark(
            self, "options", servers=list(servers),
            settings=dict(sync_timeout_seconds=15, log_level=0, **settings))

    def command(self, window, command):
        """A button's command, posted: a click sent to a button that opens a modal
        window would wait for that window to close."""
        self.assertEqual(harness.winctl("post", window, harness.WM_COMMAND, command, 0).returncode, 0)

    def open_options(self):
        self.command(WINDOW, ids.IDB_MAIN_OPTIONS)
        self.assertEqual(harness.winctl("wait", OPTIONS, 10000).returncode, 0)
        # Until a message is answered, a click sent to a dialog that is still
        # starting on a busy host may find it "hung", and be dropped.
        harness.wait_until(lambda: harness.winctl("checked", OPTIONS, ids.IDX_SETTINGS_SERVER).returncode == 0, 30,
                           "Options never answered a message")

    def choose(self, control, index):
        """Selects an item of a list of Options and waits until the list shows it,
        selecting again meanwhile: a dialog that is still starting may not have
        taken the first selection."""
        def chosen():
            harness.winctl("select", OPTIONS, control, index)
            return harness.winctl("selected", OPTIONS, control).stdout.strip() == str(index).encode()

        harness.wait_until(chosen, 15, f"list {control} of Options never showed item {index}")

    def press(self, window, button):
        harness.winctl("click", window, button, timeout=30)

    def close_options(self, button):
        self.press(OPTIONS, button)
        # OK may register the logon task first, and Wine starts its Task Scheduler on the first call.
        self.assertEqual(harness.winctl("gone", OPTIONS, 30000).returncode, 0)

    def reset(self):
        """Reset, and Continue in its question. The question belongs to Options,
        which takes no input while it is up."""
        self.command(OPTIONS, ids.IDB_SETTINGS_RESET)
        self.assertEqual(harness.winctl("wait", QUESTION, 10000).returncode, 0)
        harness.wait_for_text(QUESTION, ids.IDE_MSG_LINE1, re.escape("This will reset all settings to default."))
        self.assertEqual(harness.winctl("enabled", OPTIONS).returncode, 1, "Options could be used under the question")
        self.press(QUESTION, ids.IDB_MSG_OK)
        self.assertEqual(harness.winctl("gone", QUESTION, 10000).returncode, 0)
        self.assertEqual(harness.winctl("enabled", OPTIONS).returncode, 0)

    def end_program(self):
        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        self.assertEqual(harness.finish(self.process, 30), 0)
        return harness.saved_settings(self.directory)

    def test_fields_of_every_kind_are_kept_by_ok(self):
        self.start()
        before = harness.saved_settings(self.directory)
        self.open_options()
        self.choose(ids.IDL_SETTINGS_LOG, 2)                                      # a list
        self.press(OPTIONS, ids.IDX_SETTINGS_ON_TOP)                              # a check box
        harness.winctl("set-text", OPTIONS, ids.IDE_SETTINGS_TIMEOUT, "42")       # a number
        harness.winctl("set-text", OPTIONS, ids.IDE_SETTINGS_ADDRESS_A, "10.1.2.3")  # an address
        self.press(OPTIONS, ids.IDX_SETTINGS_DATES)                               # enables the dates
        harness.winctl("keyto", OPTIONS, ids.IDE_SETTINGS_DATE_START, hex(harness.VK_UP))  # a date: one step on
        # OK, posted after the date's key, is handled after it.
        self.command(OPTIONS, harness.IDOK)
        self.assertEqual(harness.winctl("gone", OPTIONS, 10000).returncode, 0)
        data = self.end_program()
        self.assertEqual(harness.word(data, "log_level"), 2)
        self.assertEqual(harness.word(data, "on_top"), 1)
        self.assertEqual(harness.word(data, "sync_timeout_seconds"), 42)
        self.assertEqual(harness.field(data, "manual_address_a")[:9], b"10.1.2.3\0")
        self.assertEqual(harness.word(data, "date_window_enabled"), 1)
        self.assertEqual(harness.word(data, "server_source"), harness.SOURCE_LIST,
                         "the empty list was given up as the source")
        self.assertNotEqual(harness.field(data, "date_window_start"), harness.field(before, "date_window_start"),
                            "the date did not change")

    def test_cancel_keeps_nothing_and_reset_asks_first(self):
        self.start()
        self.open_options()
        harness.winctl("set-text", OPTIONS, ids.IDE_SETTINGS_TIMEOUT, "77")
        harness.winctl("set-text", OPTIONS, ids.IDE_SETTINGS_OFFSET, "7")
        # "Tray" takes its own field at once, and no other edit with it.
        self.press(OPTIONS, ids.IDX_SETTINGS_TRAY)
        self.press(OPTIONS, ids.IDX_SETTINGS_TRAY)
        self.close_options(harness.IDCANCEL)
        self.open_options()
        harness.wait_for_text(OPTIONS, ids.IDE_SETTINGS_TIMEOUT, "15")
        self.assertEqual(harness.control_text(OPTIONS, ids.IDE_SETTINGS_OFFSET), "0")
        self.assertEqual(harness.check_state(OPTIONS, ids.IDX_SETTINGS_TRAY), 0)
        harness.winctl("set-text", OPTIONS, ids.IDE_SETTINGS_TIMEOUT, "50")
        self.reset()
        harness.wait_for_text(OPTIONS, ids.IDE_SETTINGS_TIMEOUT, "15")
        self.close_options(harness.IDOK)
        data = self.end_program()
        self.assertEqual(harness.word(data, "sync_timeout_seconds"), 15)
        self.assertEqual(harness.word(data, "protocol"), harness.PROTOCOL_AUTO)

    def test_reset_acts_at_once_and_cancel_brings_no_armed_autosync_back(self):
        self.start(autosync_enabled=1, on_top=1)
        self.open_options()
        self.reset()
        self.close_options(harness.IDCANCEL)
        data = self.end_program()
        self.assertEqual(harness.word(data, "autosync_enabled"), 0)
        self.assertEqual(harness.word(data, "on_top"), 0)

    # Once AutoSync stops, however Options is left, its countdown goes.
    def test_a_reset_autosync_leaves_no_countdown_behind(self):
        self.start(autosync_enabled=1, autosync_count=2, autosync_unit=harness.UNIT_MINUTES)
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, r"1 Mns \d+ Scs until AutoSync")
        self.open_options()
        self.reset()
        self.close_options(harness.IDCANCEL)
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, lambda text: "AutoSync" not in text, timeout=10)

    def test_autosync_due_under_options_starts_when_it_closes(self):
        address = "127.0.9.71"
        with harness.ReferenceServer(address) as reference:
            self.start(servers=[address], protocol=harness.PROTOCOL_TIME, autosync_enabled=1, autosync_count=1,
                       autosync_unit=harness.UNIT_MINUTES)
            self.open_options()
            # The minute runs out under Options: the countdown has no time left,
            # and stays so while the clock goes on.
            due = r" until AutoSync"
            harness.wait_for_text(WINDOW, ids.IDT_MAIN_STATUS, due, timeout=90)
            harness.clock_seconds_pass(3)
            self.assertEqual(harness.control_text(WINDOW, ids.IDT_MAIN_STATUS), due)
            self.assertEqual(reference.count("time"), 0)
            self.close_options(harness.IDCANCEL)
            harness.wait_until(lambda: reference.count("time") == 1, 30, "AutoSync did not start after Options")

    def test_on_windows_start_registers_changes_and_removes_the_logon_task(self):
        self.start()
        program = '"Z:' + os.path.join(self.directory, "Pendulark.exe").replace("/", "\\") + '"'
        for choice, commands in ((1, [program]), (2, [program + " /q"]), (0, [])):
            self.open_options()
            self.choose(ids.IDL_SETTINGS_WINDOWS_START, choice)
            self.close_options(harness.IDOK)
            harness.wait_until(lambda: harness.logon_task_commands() == commands, 30,
                               lambda: f"choice {choice} left the tasks {harness.logon_task_commands()}")
            # Normal priority, not the scheduler's below-normal default of 7.
            self.assertEqual(harness.logon_task_priorities(), [5] * len(commands))

    def test_ticking_server_answers_on_port_37_at_once(self):
        self.start()
        self.open_options()
        self.press(OPTIONS, ids.IDX_SETTINGS_SERVER)
        harness.wait_until(harness.time_server_answers, 30, "nothing answered on port 37")
        self.close_options(harness.IDCANCEL)


if __name__ == "__main__":
    unittest.main()
