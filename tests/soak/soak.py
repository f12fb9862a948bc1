#!/usr/bin/env python3
"""A long-use soak of the real Pendulark under Wine, watched from outside.

For the whole run the program has AutoSync every minute against a loopback
reference server that rotates through its answers (good, refused,
kiss-o'-death, late, silent, bad originate, short), its own time server asked by a
client every second, Options opened and closed and the tray entered and left
every 30 s. Every SAMPLE_SECONDS it samples the process's resident memory, its
handle, GDI and USER object counts, its top-level windows, the tools of its
tooltips, and the size of its log.

    soak.py BIN_DIR [--minutes N | --smoke SECONDS] [--out DIR]

A smoke run (--smoke 30) is shorter than the warm-up: it shows that the
program, the clients, Options, the tray and the census all work and that the
program ends cleanly, but it judges no growth; the long run does.

The program runs in DIR/program, the table goes to DIR/soak.txt and the
picture to DIR/soak.png (build/soak by default). It fails on growth past the tolerances below, a log past its bounds,
an AutoSync cycle without its log line, a time-server client without its
answer or its log line, or a program that does not end cleanly. It runs in a
Wine prefix of its own under build/wine-soak (WINE_ROOT overrides it), and in a
network namespace of its own with only loopback up (tests/own-network.sh, which needs root
or user namespaces), so that the program's servers on ports 37 and 123 take no
one else's ports and answer no one else's clients, however long the soak.
"""
import argparse
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
OWN_NETWORK = os.path.join(ROOT, "tests", "own-network.sh")
sys.path[:0] = [os.path.join(ROOT, "tests", "e2e"), os.path.join(ROOT, "tests", "bench")]
import harness  # noqa: E402  (reads the environment only when it starts something)

# Never 127.0.0.1: the program's own server takes ports 37 and 123 on every
# address. Bound before the program starts, this one keeps its 123 all along:
# the program's SNTP side says once that the port is taken, and the soak's
# clients ask its Time Protocol side.
ADDRESS = "127.0.9.60"
SAMPLE_SECONDS = 30
WARM_UP_SECONDS = 60  # one AutoSync cycle, Options and the tray have each run once by then
TIMEOUT_SECONDS = 10  # the program's time-out: a silent cycle ends well inside its minute
# Growth allowed from the first sample after the warm-up to the last. RSS
# wanders by about a MiB from sample to sample as Wine's heap comes and goes;
# a leak per cycle, client or dialog only ever grows.
RSS_GROWTH_MIB = 4.0
COUNT_GROWTH = {
    "handles": 8,  # a sample may fall inside a sync attempt: its thread, socket and event
    "gdi": 4,
    "user": 4,
    "windows": 0,  # Options and the tray have been left by every sample
    "tools": 0,
}
NAMES = {"rss": "RSS MiB", "handles": "handles", "gdi": "GDI objects", "user": "USER objects",
         "windows": "windows", "tools": "tooltip tools", "log": "dLog.txt bytes", "old": "dLogOld.txt bytes"}
FONT = "/usr/share/wine/fonts/tahoma.ttf"  # from fonts-wine

WM_SYSCOMMAND, SC_MINIMIZE, WM_LBUTTONDBLCLK = 0x112, 0xF020, 0x203
SUCCESS = ("Pendularked: Old time was ", "Error setting Time Change Privileges")
FAILURE = "No response from "
SERVED = "Server Pendularked "
# The log rotates once it has passed this size, so each file ends at most one line beyond it.
STAMP = harness.log.log_stamp_width  # time, long date and " : " in front of every log entry
LOG_BOUND = harness.log.log_rotate_size + STAMP + harness.constants("store/server_list.h").server_name_size + 1


class Clients:
    """A time-server client every second, in the background: four bytes each."""

    def __init__(self):
        self.answered = self.failed = 0
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop.wait(1):
            try:
                with socket.create_connection(("127.0.0.1", 37), timeout=10) as s:
                    data = b""
                    while len(data) < 5 and (chunk := s.recv(16)):
                        data += chunk
                ok = len(data) == 4
            except OSError:
                ok = False
            self.answered += ok
            self.failed += not ok

    def end(self):
        self.stop.set()
        self.thread.join(20)


def run_soak(harness, directory, seconds):
    """The samples, the clients, and the time the program ran."""
    from harness import WINDOW, ids
    from pendulark_bench import program_ticks
    options = "#32770:Options"

    def command(*args, what):
        if harness.winctl(*args).returncode != 0:
            raise AssertionError(what)

    def options_round(number):
        command("post", WINDOW, harness.WM_COMMAND, ids.IDB_MAIN_OPTIONS, 0, what="Options not posted")
        command("wait", options, 10000, what="Options never opened")
        button = harness.IDOK if number % 2 else harness.IDCANCEL
        command("post", options, harness.WM_COMMAND, button, 0, what="Options' button not posted")
        command("gone", options, 10000, what="Options never closed")

    def visible():
        return harness.winctl("visible", WINDOW).returncode == 0

    def tray_round():
        command("post", WINDOW, WM_SYSCOMMAND, SC_MINIMIZE, 0, what="minimise not posted")
        harness.wait_until(lambda: not visible(), 10, "minimising did not hide the window in the tray")
        command("post", WINDOW, ids.WM_TRAY_CALLBACK, 0, WM_LBUTTONDBLCLK, what="double click not posted")
        harness.wait_until(visible, 10, "a double click on the icon did not restore the window")

    def sample(pid, elapsed):
        done = harness.winctl("census", WINDOW)
        counts = dict(re.findall(r"(\w+) (-?\d+)", done.stdout.decode()))
        if done.returncode != 0 or len(counts) != 5:
            raise AssertionError(f"census failed: {done.stdout!r}")
        with open(f"/proc/{pid}/status") as f:
            rss_kib = int(re.search(r"^VmRSS:\s+(\d+) kB", f.read(), re.M).group(1))
        sizes = {key: os.path.getsize(path) if os.path.exists(path) else 0
                 for key, path in (("log", os.path.join(directory, "dLog.txt")),
                                   ("old", os.path.join(directory, "dLogOld.txt")))}
        return dict(t=round(elapsed), rss=rss_kib / 1024, **{k: int(v) for k, v in counts.items()}, **sizes)

    process = harness.start(directory, "Pendulark.exe")
    clients, samples = None, []
    try:
        if harness.winctl("wait", WINDOW, 30000).returncode != 0:
            raise AssertionError("the main window never appeared")
        harness.wait_for_text(WINDOW, ids.IDT_MAIN_COMPUTER_CLOCK, lambda text: text != "Wait...")
        started = time.monotonic()
        pids = harness.wait_until(lambda: {pid for pid, _ in program_ticks(harness.wine_prefix(), "Pendulark.exe")},
                                  30, "no process of Pendulark.exe in the prefix")
        if len(pids) != 1:
            raise AssertionError(f"more than one process of Pendulark.exe: {sorted(pids)}")
        pid = pids.pop()
        clients = Clients()
        # A sample, Options, the tray, in turns: the samples on the half minute.
        turn = SAMPLE_SECONDS / 3
        for step in range(int(seconds / turn) + 1):
            time.sleep(max(0.0, started + step * turn - time.monotonic()))
            if process.poll() is not None:
                raise AssertionError(f"the program ended with {process.returncode} after {step * turn:.0f} s")
            if step % 3 == 0:
                samples.append(sample(pid, time.monotonic() - started))
                print(row(samples[-1]), flush=True)
            elif step % 3 == 1:
                options_round(step // 3)
            else:
                tray_round()
        elapsed = time.monotonic() - started
        clients.end()
        # Reports wait for a running cycle and a name look-up; each one comes.
        harness.wait_until(lambda: count_served(directory) >= clients.answered, 60,
                           lambda: f"{count_served(directory)} reports in the log for {clients.answered} clients")
    finally:
        if clients:
            clients.end()
        harness.winctl("key", WINDOW, hex(harness.VK_ESCAPE))
        code = harness.finish(process, 30)
    if code != 0:
        raise AssertionError(f"the program did not end cleanly at the end: exit code {code}")
    return samples, clients, elapsed


def log_lines(directory):
    """(seconds of the day, text) of every entry of dLogOld.txt and dLog.txt, oldest first."""
    entries = []
    for name in ("dLogOld.txt", "dLog.txt"):
        path = os.path.join(directory, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                for line in f.read().split(b"\r\n")[2:]:
                    if line:
                        h, m, s = map(int, line[:8].split())
                        entries.append((h * 3600 + m * 60 + s, line[STAMP:].decode("latin-1")))
    return entries


def count_served(directory):
    return sum(text.startswith(SERVED) for _, text in log_lines(directory))


def row(sample):
    return (f"{sample['t']:>6} {sample['rss']:>8.1f} " + " ".join(f"{sample[k]:>7}" for k in COUNT_GROWTH)
            + f" {sample['log']:>9} {sample['old']:>9}")


HEADER = f"{'t s':>6} {'RSS MiB':>8} " + " ".join(f"{k:>7}" for k in COUNT_GROWTH) + f" {'dLog':>9} {'dLogOld':>9}"


def limits(samples, reported):
    """The most each series may reach: the first sample after the warm-up plus its tolerance."""
    first = next(s for s in samples if s["t"] >= WARM_UP_SECONDS)
    return dict(rss=first["rss"] + RSS_GROWTH_MIB, log=LOG_BOUND, old=LOG_BOUND,
                **{key: first[key] + COUNT_GROWTH[key] for key in reported}), first["t"]


def check(samples, reported, clients, elapsed, directory, answers):
    """What went wrong, in words."""
    faults = []
    watched = samples[-1]["t"] >= WARM_UP_SECONDS
    most, since = limits(samples, reported) if watched else ({}, None)
    last = samples[-1]
    for key in ["rss"] + reported if watched else []:
        if last[key] > most[key]:
            allowed = RSS_GROWTH_MIB if key == "rss" else COUNT_GROWTH[key]
            faults.append(f"{NAMES[key]} grew to {number(last[key])} at {last['t']} s, past {number(most[key])}: "
                          f"the sample at {since} s plus {allowed}")
    for key in ("log", "old"):
        if max(s[key] for s in samples) > LOG_BOUND:
            faults.append(f"{NAMES[key]} reached {max(s[key] for s in samples)} (at most {LOG_BOUND})")
    if clients.failed:
        faults.append(f"{clients.failed} of {clients.answered + clients.failed} time-server clients got no answer")
    served = count_served(directory)
    if served != clients.answered:
        faults.append(f"{served} time-server reports in the log for {clients.answered} clients")
    # Each cycle ends in one line; the server's answers say which.
    entries = log_lines(directory)
    ends = [(when, "synced" if text.startswith(SUCCESS) else "failed") for when, text in entries
            if text.startswith(SUCCESS + (FAILURE,))]
    outcomes = [outcome for _, outcome in ends]
    expected = ["synced" if answer in ("normal", "late") else "failed" for answer in answers]
    print(f"AutoSync cycles ended: {len(ends)} in {elapsed:.0f} s ({' '.join(outcomes)})")
    minutes = int(elapsed // 60)
    if not minutes - 2 <= len(ends) <= minutes + 1:
        faults.append(f"{len(ends)} AutoSync cycles ended in {elapsed:.0f} s")
    if outcomes != expected[:len(outcomes)] or len(expected) - len(outcomes) > 2:
        faults.append(f"the cycles' log lines ({' '.join(outcomes)}) do not follow the server's answers "
                      f"({' '.join(answers)})")
    # Every minute has its line: from the log's first entry to its last, each
    # cycle at most a minute and a time-out after the one before (seconds of
    # the day wrap at midnight).
    marks = [entries[0][0]] + [when for when, _ in ends] + [entries[-1][0]] if entries else []
    gaps = [(b - a) % 86400 for a, b in zip(marks, marks[1:])]
    if any(gap > 60 + TIMEOUT_SECONDS + 20 for gap in gaps):
        faults.append(f"a minute without its cycle's line: gaps {gaps} s")
    return faults


def number(value):
    return f"{value:,.1f}" if isinstance(value, float) else f"{value:,}"


def draw(samples, series, path):
    """One panel per series against time, with its limit in red."""
    width, height, left, right = 900, 110, 76, 20
    span_t = samples[-1]["t"] or 1
    args = ["convert", "-size", f"{width}x{height * len(series)}", "xc:white", "-font", FONT, "-pointsize", "12"]
    for i, (key, limit) in enumerate(series):
        top, bottom = i * height + 22, (i + 1) * height - 18
        values = [s[key] for s in samples]
        low, high = min(values + [limit]), max(values + [limit])
        pad = (high - low) / 10 or 1  # a flat line shows in the middle

        def y(v):
            return bottom - (bottom - top) * (v - low + pad) / (high - low + 2 * pad)

        points = " ".join(f"{left + (width - left - right) * s['t'] / span_t:.1f},{y(s[key]):.1f}" for s in samples)
        title = f"{NAMES[key]}: {number(values[0])} at 0 s, {number(values[-1])} at {span_t} s, limit {number(limit)}"
        args += ["-fill", "none", "-stroke", "gray", "-draw", f"rectangle {left},{top} {width - right},{bottom}",
                 "-stroke", "red", "-draw", f"line {left},{y(limit):.1f} {width - right},{y(limit):.1f}",
                 "-stroke", "blue", "-draw", f"polyline {points}", "-stroke", "none", "-fill", "black",
                 "-draw", f"text {left},{top - 6} '{title}'",
                 "-draw", f"text 4,{y(high) + 4:.1f} '{number(high)}'",
                 "-draw", f"text 4,{y(low) + 4:.1f} '{number(low)}'"]
    subprocess.run(args + [path], check=True, timeout=60)


def main():
    if os.environ.get("SOAK_OWN_NETWORK") != "1":
        os.environ["SOAK_OWN_NETWORK"] = "1"
        os.execv(OWN_NETWORK, [OWN_NETWORK, sys.executable, *sys.argv])
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bin_dir")
    parser.add_argument("--minutes", type=int, default=int(os.environ.get("SOAK_MINUTES", 30)))
    parser.add_argument("--smoke", type=int, metavar="SECONDS", help="a run too short to judge growth")
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "soak"))
    args = parser.parse_args()
    if args.smoke is None and args.minutes < 2:
        sys.exit("a soak needs at least 2 minutes: one to warm up, one to watch")
    seconds = args.smoke if args.smoke is not None else args.minutes * 60
    os.environ["PENDULARK_BIN"] = os.path.abspath(args.bin_dir)
    os.environ["WINE_ROOT"] = os.path.abspath(os.environ.get("WINE_ROOT", os.path.join(ROOT, "build", "wine-soak")))
    directory = os.path.join(os.path.abspath(args.out), "program")
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    shutil.copy2(os.path.join(args.bin_dir, "Pendulark.exe"), directory)
    harness.write_servers(directory, [ADDRESS])
    harness.write_settings(directory, autosync_enabled=1, autosync_count=1, autosync_unit=0, log_level=3,
                           protocol=harness.PROTOCOL_SNTP, sync_timeout_seconds=TIMEOUT_SECONDS, minimise_to_tray=1,
                           time_server_enabled=1)
    print(f"soak of {seconds} s, a sample every {SAMPLE_SECONDS} s, in {harness.wine_prefix()}", flush=True)
    print(HEADER, flush=True)
    harness.start_wine()
    try:
        # The Time Protocol stays off: port 37 is the program's own.
        with harness.ReferenceServer(ADDRESS, mode="rotate", time_protocol=False) as server:
            server.refuse_seconds = 90  # over exactly one AutoSync cycle, whatever its jitter
            samples, clients, elapsed = run_soak(harness, directory, seconds)
            answers = list(server.answers)
    finally:
        harness.stop_wine()
    # A count that is 0 or unknown throughout is one that Wine does not keep.
    silent = [key for key in ("handles", "gdi", "user") if all(s[key] <= 0 for s in samples)]
    reported = [key for key in COUNT_GROWTH if key not in silent]
    with open(os.path.join(args.out, "soak.txt"), "w") as f:
        f.write("\n".join([HEADER] + [row(s) for s in samples]) + "\n")
    picture = os.path.join(args.out, "soak.png")
    if samples[-1]["t"] >= WARM_UP_SECONDS:
        most, _ = limits(samples, reported)
        draw(samples, [(key, most[key]) for key in ["rss"] + reported + ["log", "old"]], picture)
    else:
        print(f"a run shorter than the {WARM_UP_SECONDS} s warm-up: no growth judged, no picture")
    if silent:
        print(f"Wine does not report: {', '.join(NAMES[k] for k in silent)} (0 throughout; not checked)")
    growth = ", ".join(f"{NAMES[k]} +{COUNT_GROWTH[k]}" for k in reported)
    print(f"tolerances after the {WARM_UP_SECONDS} s warm-up: RSS +{RSS_GROWTH_MIB} MiB, {growth}; "
          f"each log file at most {LOG_BOUND} bytes")
    print(f"time-server clients answered: {clients.answered}; AutoSync answers served: {' '.join(answers)}")
    print(f"table: {os.path.join(args.out, 'soak.txt')}, picture: {picture}")
    faults = check(samples, reported, clients, elapsed, directory, answers)
    for fault in faults:
        print("FAIL:", fault)
    if faults:
        sys.exit(1)
    print(f"soak passed: {elapsed / 60:.1f} min")


if __name__ == "__main__":
    main()
