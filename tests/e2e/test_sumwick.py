"""Sumwick as a user runs it on a Chinese system: typed text, the two buttons
and the digest box, driven and read from outside through winctl."""
import hashlib
import os
import subprocess
import time
import unittest

import harness
from harness import ids

# Code page 936, as on the systems the calculator is made for.
CHINESE = {"LC_ALL": "zh_CN.UTF-8"}
WINDOW = "SUMWICK"
COMMAND1, TEXT1 = ids.IDB_FORM1_COMMAND1, ids.IDE_FORM1_TEXT1
TEXT2, COMMAND2 = ids.IDE_FORM1_TEXT2, ids.IDB_FORM1_COMMAND2
# Every Wine call below is bounded by what is left of this, so the whole file is.
FILE_BUDGET_SECONDS = 90
_deadline = None


def setUpModule():
    global _deadline
    # Without the locale Wine gives another code page, and the typed text
    # arrives garbled: say so rather than fail on digests.
    locale = subprocess.run([os.path.join(harness.ROOT, "tools", "chinese-locale.sh")], capture_output=True,
                            text=True, timeout=120)
    if locale.returncode != 0:
        raise AssertionError(locale.stderr.strip())
    _deadline = time.monotonic() + FILE_BUDGET_SECONDS


def gbk_md5(text):
    return hashlib.md5(text.encode("gbk")).hexdigest()


def ctl(*args):
    """winctl's output without its line end; fails the test on any other exit than 0."""
    left = _deadline - time.monotonic()
    if left <= 0:
        raise AssertionError("Sumwick e2e ran out of its time budget")
    result = harness.winctl(*args, env=CHINESE, timeout=min(20, left))
    if result.returncode != 0:
        raise AssertionError(f"winctl {' '.join(map(str, args))} gave {result.returncode}: {result.stderr[-300:]!r}")
    out = result.stdout.decode("utf-8")
    return out[:-2] if out.endswith("\r\n") else out[:-1] if out.endswith("\n") else out


def start_sumwick(name):
    directory = harness.scratch_dir(name, programs=("Sumwick.exe",))
    process = harness.start(directory, "Sumwick.exe", env=CHINESE)
    try:
        ctl("wait", WINDOW, "30000")
    except BaseException:
        harness.finish(process, 1)
        raise
    return process


def stop_sumwick(process):
    if process.poll() is None:
        harness.winctl("close", WINDOW, env=CHINESE, timeout=20)
    harness.finish(process, 10)


class SumwickDigest(unittest.TestCase):
    """One window for all the digest cases: each Wine start costs seconds."""

    @classmethod
    def setUpClass(cls):
        cls.process = start_sumwick("sumwick-digest")

    @classmethod
    def tearDownClass(cls):
        stop_sumwick(cls.process)

    def compute(self, text):
        ctl("click", WINDOW, COMMAND2)
        ctl("type", WINDOW, TEXT1, text)
        self.assertEqual(ctl("get-text", WINDOW, TEXT1), text)
        ctl("click", WINDOW, COMMAND1)
        return ctl("get-text", WINDOW, TEXT2)

    def test_digest_is_md5_of_the_gbk_bytes(self):
        for text in ("abc", "加密", "a加", "  md5加密结果： ", "要加密的字符串 and ASCII 0123456789"):
            with self.subTest(text=text):
                digest = self.compute(text)
                self.assertRegex(digest, "^[0-9a-f]{32}$")
                self.assertEqual(digest, gbk_md5(text))
        # The same text again shows the same digits.
        self.assertEqual(self.compute("加密"), gbk_md5("加密"))

    def test_digest_stays_until_compute_and_ignores_empty_input(self):
        digest = self.compute("加密")
        # Typing changes nothing below until the button is pressed again.
        ctl("type", WINDOW, TEXT1, "abc")
        self.assertEqual(ctl("get-text", WINDOW, TEXT2), digest)
        ctl("click", WINDOW, COMMAND1)
        self.assertEqual(ctl("get-text", WINDOW, TEXT2), gbk_md5("加密abc"))

        ctl("set-text", WINDOW, TEXT1, "")
        ctl("click", WINDOW, COMMAND1)
        self.assertEqual(ctl("get-text", WINDOW, TEXT2), gbk_md5("加密abc"))

    def test_clear_empties_both_boxes(self):
        self.compute("清空")
        ctl("click", WINDOW, COMMAND2)
        self.assertEqual(ctl("get-text", WINDOW, TEXT1), "")
        self.assertEqual(ctl("get-text", WINDOW, TEXT2), "")
        # Again on empty boxes: still empty, and the window is still there.
        ctl("click", WINDOW, COMMAND2)
        self.assertEqual(ctl("get-text", WINDOW, TEXT1), "")
        self.assertEqual(ctl("get-text", WINDOW, TEXT2), "")


class SumwickLifecycle(unittest.TestCase):
    def test_starts_empty_keys_reach_only_the_focused_button_and_closing_ends_it(self):
        process = start_sumwick("sumwick-lifecycle")
        try:
            self.assertEqual(ctl("get-text", WINDOW, TEXT1), "")
            self.assertEqual(ctl("get-text", WINDOW, TEXT2), "")

            # Setting the text leaves the focus on the compute button, where it
            # starts. No cancel button: Esc leaves the window open, and Enter, posted
            # after it, presses the focused button once the Esc has been handled.
            ctl("set-text", WINDOW, TEXT1, "abc")
            ctl("key", WINDOW, hex(harness.VK_ESCAPE))
            ctl("key", WINDOW, hex(harness.VK_RETURN))
            digest = harness.wait_until(lambda: ctl("get-text", WINDOW, TEXT2), 10, "Enter computed no digest")
            self.assertEqual(digest, gbk_md5("abc"))
            self.assertIsNone(process.poll())
            ctl("wait", WINDOW, 0)

            ctl("close", WINDOW)
            ctl("gone", WINDOW, "10000")
            self.assertEqual(harness.finish(process, 10), 0)
        finally:
            stop_sumwick(process)


if __name__ == "__main__":
    unittest.main()
